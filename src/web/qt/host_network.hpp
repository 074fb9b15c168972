#pragma once

#include <QHostAddress>
#include <string>
#include <vector>

#include "net/allow_list.hpp"
#include "web/reach.hpp"

namespace talmir880::web {

// This machine's network as the system has it now.
HostNetwork host_network();

// An address as Qt gives it, as ours (IPv4 as ::ffff:a.b.c.d).
net::Address address_of(const QHostAddress& host);
// As a visitor writes it in Host: IPv4 dotted, IPv6 without its zone.
std::string host_text(const QHostAddress& host);

}  // namespace talmir880::web
