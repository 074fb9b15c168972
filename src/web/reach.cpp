#include "web/reach.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <sstream>

namespace talmir880::web {
namespace {

bool unspecified(std::string_view host) {
  return host.empty() || host == "0.0.0.0" || host == "::";
}

bool loopback(std::string_view host) {
  if (host == "localhost") return true;
  const std::optional<net::Address> address = net::parse_address(host);
  return address && address->is_loopback();
}

bool ipv6_text(std::string_view host) { return host.find(':') != std::string_view::npos; }

std::optional<std::uint64_t> hex(std::string_view text) {
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// 32 hex digits, as ipv6_route writes an address.
std::optional<net::Address> hex_address(std::string_view text) {
  if (text.size() != 32) return std::nullopt;
  net::Address out;
  for (std::size_t i = 0; i < 16; ++i) {
    const std::optional<std::uint64_t> byte = hex(text.substr(2 * i, 2));
    if (!byte) return std::nullopt;
    out.bytes[i] = static_cast<std::uint8_t>(*byte);
  }
  return out;
}

std::vector<std::string> fields(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string field; in >> field;) out.push_back(field);
  return out;
}

constexpr std::uint64_t kRouteUp = 0x1;
constexpr std::uint64_t kRouteGateway = 0x2;

// The prefix as a mask, in the address's own family.
std::string mask_text(int prefix, bool ipv6) {
  if (!ipv6) {
    const std::uint32_t mask = prefix <= 0 ? 0 : ~std::uint32_t{0} << (32 - std::min(prefix, 32));
    return net::address_text(net::Address::ipv4(mask));
  }
  net::Address mask;
  for (int i = 0; i < std::min(prefix, 128); ++i) {
    mask.bytes[static_cast<std::size_t>(i / 8)] |= static_cast<std::uint8_t>(0x80 >> (i % 8));
  }
  return net::address_text(mask);
}

}  // namespace

bool own_address(const net::Address& peer, const std::vector<net::Address>& own) {
  return peer.is_loopback() || std::find(own.begin(), own.end(), peer) != own.end();
}

Offer offer(const Listening& way, const std::string& reached, bool local) {
  if (unspecified(way.host)) {
    const bool v6 = ipv6_text(reached);
    const bool takes = way.host == "::" ? (v6 || way.dual_stack) : !v6;
    return takes ? Offer{reached} : Offer{};
  }
  if (loopback(way.host)) {
    if (!local) return {{}, true};
    return {way.host == "localhost" ? "127.0.0.1" : way.host};
  }
  return {way.host};
}

std::vector<Gateway> default_gateways(std::string_view route, std::string_view ipv6_route) {
  std::vector<Gateway> out;
  std::istringstream v4{std::string(route)};
  for (std::string line; std::getline(v4, line);) {
    // Iface Destination Gateway Flags RefCnt Use Metric Mask ...
    const std::vector<std::string> f = fields(line);
    if (f.size() < 8) continue;
    const auto destination = hex(f[1]), gateway = hex(f[2]), flags = hex(f[3]), mask = hex(f[7]);
    if (!destination || !gateway || !flags || !mask || *destination != 0 || *mask != 0 ||
        (*flags & (kRouteUp | kRouteGateway)) != (kRouteUp | kRouteGateway)) {
      continue;
    }
    // The kernel prints the address as a number in host order: the first
    // octet is the lowest byte.
    const auto g = static_cast<std::uint32_t>(*gateway);
    const std::uint32_t host_order =
        ((g & 0xff) << 24) | (((g >> 8) & 0xff) << 16) | (((g >> 16) & 0xff) << 8) | (g >> 24);
    out.push_back({f[0], net::address_text(net::Address::ipv4(host_order))});
  }
  std::istringstream v6{std::string(ipv6_route)};
  for (std::string line; std::getline(v6, line);) {
    // destination, its prefix, source, its prefix, next hop, metric,
    // references, use, flags, interface
    const std::vector<std::string> f = fields(line);
    if (f.size() < 10) continue;
    const auto destination = hex_address(f[0]), next = hex_address(f[4]);
    const auto prefix = hex(f[1]), flags = hex(f[8]);
    if (!destination || !next || !prefix || !flags || *destination != net::Address{} ||
        *prefix != 0 || *next == net::Address{} ||
        (*flags & (kRouteUp | kRouteGateway)) != (kRouteUp | kRouteGateway)) {
      continue;
    }
    out.push_back({f[9], net::address_text(*next)});
  }
  return out;
}

NetworkInfo network_info(const std::string& address, const std::vector<InterfaceFacts>& interfaces,
                         const std::vector<Gateway>& gateways) {
  NetworkInfo out;
  out.address = address;
  out.ipv6 = ipv6_text(address);
  out.interface = "LAN";
  out.mac = "00:00:00:00:00:00";
  out.mask = mask_text(out.ipv6 ? 128 : 32, out.ipv6);
  out.gateway = out.ipv6 ? "::" : "0.0.0.0";
  const std::optional<net::Address> wanted = net::parse_address(address);
  if (wanted) {
    const std::uint8_t* b = wanted->bytes.data();
    out.auto_ip = wanted->is_ipv4() ? (b[12] == 169 && b[13] == 254)
                                    : (b[0] == 0xfe && (b[1] & 0xc0) == 0x80);
  }
  for (const InterfaceFacts& i : interfaces) {
    for (const InterfaceFacts::Entry& e : i.addresses) {
      if (!wanted || net::parse_address(e.address) != wanted) continue;
      out.interface = i.name;
      if (!i.mac.empty()) out.mac = i.mac;
      out.mask = mask_text(e.prefix, out.ipv6);
      out.dhcp = !e.permanent && !out.auto_ip;
      for (const Gateway& g : gateways) {
        if (g.interface == i.name && ipv6_text(g.address) == out.ipv6) {
          out.gateway = g.address;
          break;
        }
      }
      return out;
    }
  }
  return out;
}

}  // namespace talmir880::web
