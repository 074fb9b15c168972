#pragma once

// Who a visitor is to this machine, and which of the instrument's ways in
// it can use: the rules behind the resource strings the pages and the
// identification offer, and behind who may change settings. The machine's
// interfaces and routes come in as plain facts (web/qt gathers them).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/allow_list.hpp"

namespace talmir880::web {

// A request from any address of this machine is this machine's: the same
// person at the same keyboard, whichever address the browser took.
bool own_address(const net::Address& peer, const std::vector<net::Address>& own);

// Where a way in (the raw socket, VXI-11) listens.
struct Listening {
  std::string host;  // as the options name it: "0.0.0.0", "::", "127.0.0.1", "localhost"...
  // "::" also takes IPv4 (a socket bound without IPV6_V6ONLY).
  bool dual_stack = false;
};

// What a visitor is offered for a way in: the host to name in its
// resource string, or that only this machine reaches it. Neither: nothing
// to offer (off, or listening only on the other address family).
struct Offer {
  std::string host;
  bool this_machine_only = false;
};

// `reached`: the address the visitor's request came to; `local`: the
// visitor is this machine. A way in on every interface is offered at the
// address reached; one on loopback to this machine only; one on an
// address of its own at that address.
Offer offer(const Listening& way, const std::string& reached, bool local);

// One network interface of this machine, as the system lists it.
struct InterfaceFacts {
  struct Entry {
    std::string address;    // numeric, no zone
    int prefix = 0;         // the netmask's length
    bool permanent = true;  // no lifetime: set by hand, not leased
  };
  std::string name;  // "eth0"
  std::string mac;   // "aa:bb:cc:dd:ee:ff"; empty where it has none
  std::vector<Entry> addresses;
};

// A default route: its interface and gateway.
struct Gateway {
  std::string interface;
  std::string address;
};
// The default routes of /proc/net/route (IPv4) and /proc/net/ipv6_route.
std::vector<Gateway> default_gateways(std::string_view route, std::string_view ipv6_route);

// What LXI's NetworkInformation says of the interface an address is on.
struct NetworkInfo {
  std::string interface;  // "eth0"; "LAN" where the address is on none
  std::string address;
  std::string mask;     // "255.255.255.0"; IPv6 likewise, "ffff:ffff:ffff:ffff::"
  std::string mac;      // "00:00:00:00:00:00" where unknown
  std::string gateway;  // "0.0.0.0" or "::" where there is none
  // Best known: an address with a lifetime was leased (DHCP, or IPv6's
  // own configuration), one without was set by hand; AutoIP is an
  // address of the link-local range (169.254/16, fe80::/10).
  bool dhcp = false;
  bool auto_ip = false;
  bool ipv6 = false;
};
// This machine's network: its interfaces with their addresses, its
// default routes, and every address of its own.
struct HostNetwork {
  std::vector<InterfaceFacts> interfaces;
  std::vector<Gateway> gateways;
  std::vector<net::Address> addresses;
};

NetworkInfo network_info(const std::string& address, const std::vector<InterfaceFacts>& interfaces,
                         const std::vector<Gateway>& gateways);

}  // namespace talmir880::web
