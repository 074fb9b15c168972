#pragma once

// Who may connect to the network faces (--allow), decided from the peer's
// address alone, before a byte of it is read.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talmir880::net {

// An IPv4 or IPv6 address, IPv4 held as IPv4-mapped IPv6 (::ffff:a.b.c.d):
// a peer on a dual-stack socket then matches an IPv4 entry as it is.
struct Address {
  std::array<std::uint8_t, 16> bytes{};

  static Address ipv4(std::uint32_t host_order);
  bool is_ipv4() const;
  bool is_loopback() const;
  bool operator==(const Address&) const = default;
};

// Numeric addresses only: dotted IPv4 or IPv6 text (no zone).
std::optional<Address> parse_address(std::string_view text);
// Dotted for IPv4 and mapped addresses, the shortest IPv6 form otherwise.
std::string address_text(const Address& address);
// HOST:PORT as --listen takes it back, an IPv6 host in brackets: how the
// faces name a peer and the programs where they listen.
std::string address_text(const std::string& host, int port);

// ADDRESS[/PREFIX]; a bare address is the one host (/32, /128).
struct AddressRange {
  Address base;
  int prefix = 128;  // in IPv6 bits: an IPv4 /n is 96 + n

  bool contains(const Address& address) const;
};
std::optional<AddressRange> parse_address_range(std::string_view text);

// Empty: everyone may connect. Otherwise loopback and the listed ranges.
class AllowList {
 public:
  AllowList() = default;
  explicit AllowList(std::vector<AddressRange> ranges) : ranges_(std::move(ranges)) {}

  bool allows(const Address& peer) const;
  bool empty() const { return ranges_.empty(); }

 private:
  std::vector<AddressRange> ranges_;
};

}  // namespace talmir880::net
