#pragma once

#include <vector>

#include "net/allow_list.hpp"
#include "web/reach.hpp"

namespace talmir880::web {

// This machine's network as the system has it now: its interfaces with
// their addresses, its default routes, and every address of its own.
struct HostNetwork {
  std::vector<InterfaceFacts> interfaces;
  std::vector<Gateway> gateways;
  std::vector<net::Address> addresses;
};
HostNetwork host_network();

}  // namespace talmir880::web
