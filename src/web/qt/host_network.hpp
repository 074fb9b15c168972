#pragma once

#include <vector>

#include "scpi/allow_list.hpp"
#include "web/reach.hpp"

namespace talmir880::web {

// This machine's network as the system has it now: its interfaces with
// their addresses, its default routes, and every address of its own.
struct HostNetwork {
  std::vector<InterfaceFacts> interfaces;
  std::vector<Gateway> gateways;
  std::vector<scpi::Address> addresses;
};
HostNetwork host_network();

}  // namespace talmir880::web
