#include "net/allow_list.hpp"

#include <algorithm>
#include <charconv>

namespace talmir880::net {
namespace {

constexpr std::array<std::uint8_t, 12> kMappedPrefix = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

std::optional<unsigned> number(std::string_view text, int base, std::size_t max_digits) {
  unsigned value = 0;
  if (text.empty() || text.size() > max_digits) return std::nullopt;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// Four decimal parts of 0 to 255, without leading zeros (which some
// readers take for octal).
std::optional<std::uint32_t> parse_ipv4(std::string_view text) {
  std::uint32_t out = 0;
  for (int part = 0; part < 4; ++part) {
    const std::size_t dot = text.find('.');
    if ((part < 3) == (dot == std::string_view::npos)) return std::nullopt;
    const std::string_view digits = text.substr(0, dot);
    const std::optional<unsigned> value = number(digits, 10, 3);
    if (!value || *value > 255 || (digits.size() > 1 && digits[0] == '0')) return std::nullopt;
    out = out << 8 | *value;
    text.remove_prefix(part < 3 ? dot + 1 : text.size());
  }
  return out;
}

// Colon-separated groups, the last of which may be dotted IPv4 (two groups).
bool parse_groups(std::string_view text, bool ipv4_tail, std::vector<std::uint16_t>& out) {
  if (text.empty()) return true;
  for (;;) {
    const std::size_t colon = text.find(':');
    const std::string_view group = text.substr(0, colon);
    if (colon == std::string_view::npos && ipv4_tail && group.find('.') != std::string_view::npos) {
      const std::optional<std::uint32_t> v4 = parse_ipv4(group);
      if (!v4) return false;
      out.push_back(static_cast<std::uint16_t>(*v4 >> 16));
      out.push_back(static_cast<std::uint16_t>(*v4 & 0xffff));
      return true;
    }
    const std::optional<unsigned> value = number(group, 16, 4);
    if (!value) return false;
    out.push_back(static_cast<std::uint16_t>(*value));
    if (colon == std::string_view::npos) return true;
    text.remove_prefix(colon + 1);
  }
}

std::optional<Address> parse_ipv6(std::string_view text) {
  std::vector<std::uint16_t> head;
  std::vector<std::uint16_t> tail;
  const std::size_t gap = text.find("::");
  if (gap == std::string_view::npos) {
    if (!parse_groups(text, true, head) || head.size() != 8) return std::nullopt;
  } else {
    const std::string_view rest = text.substr(gap + 2);
    if (rest.find("::") != std::string_view::npos ||
        !parse_groups(text.substr(0, gap), false, head) || !parse_groups(rest, true, tail) ||
        head.size() + tail.size() > 7) {
      return std::nullopt;
    }
    head.resize(8 - tail.size(), 0);
    head.insert(head.end(), tail.begin(), tail.end());
  }
  Address out;
  for (std::size_t i = 0; i < 8; ++i) {
    out.bytes[2 * i] = static_cast<std::uint8_t>(head[i] >> 8);
    out.bytes[2 * i + 1] = static_cast<std::uint8_t>(head[i] & 0xff);
  }
  return out;
}

}  // namespace

Address Address::ipv4(std::uint32_t host_order) {
  Address out;
  std::copy(kMappedPrefix.begin(), kMappedPrefix.end(), out.bytes.begin());
  for (int i = 0; i < 4; ++i)
    out.bytes[12 + i] = static_cast<std::uint8_t>(host_order >> (24 - 8 * i));
  return out;
}

bool Address::is_ipv4() const {
  return std::equal(kMappedPrefix.begin(), kMappedPrefix.end(), bytes.begin());
}

bool Address::is_loopback() const {
  Address one;
  one.bytes[15] = 1;
  return (is_ipv4() && bytes[12] == 127) || *this == one;
}

std::optional<Address> parse_address(std::string_view text) {
  if (text.find(':') != std::string_view::npos) return parse_ipv6(text);
  const std::optional<std::uint32_t> v4 = parse_ipv4(text);
  if (!v4) return std::nullopt;
  return Address::ipv4(*v4);
}

std::string address_text(const std::string& host, int port) {
  const std::string shown = host.find(':') == std::string::npos ? host : "[" + host + "]";
  return shown + ":" + std::to_string(port);
}

std::string address_text(const Address& address) {
  const auto& b = address.bytes;
  if (address.is_ipv4()) {
    return std::to_string(b[12]) + "." + std::to_string(b[13]) + "." + std::to_string(b[14]) + "." +
           std::to_string(b[15]);
  }
  std::array<unsigned, 8> groups{};
  for (std::size_t i = 0; i < 8; ++i) groups[i] = b[2 * i] << 8 | b[2 * i + 1];
  // The first longest run of two or more zero groups becomes "::".
  std::size_t best = 8;
  std::size_t best_length = 1;
  for (std::size_t i = 0; i < 8;) {
    std::size_t end = i;
    while (end < 8 && groups[end] == 0) ++end;
    if (end - i > best_length) best = i, best_length = end - i;
    i = end == i ? i + 1 : end;
  }
  std::string out;
  char hex[8];
  for (std::size_t i = 0; i < 8; ++i) {
    if (i == best) {
      out += "::";
      i += best_length - 1;
      continue;
    }
    if (!out.empty() && out.back() != ':') out += ':';
    const auto [end, ec] = std::to_chars(hex, hex + sizeof hex, groups[i], 16);
    out.append(hex, end);
  }
  return out;
}

bool AddressRange::contains(const Address& address) const {
  for (int bit = 0; bit < prefix; bit += 8) {
    const int bits = std::min(8, prefix - bit);
    const auto mask = static_cast<std::uint8_t>(0xff00 >> bits);
    if (((base.bytes[bit / 8] ^ address.bytes[bit / 8]) & mask) != 0) return false;
  }
  return true;
}

std::optional<AddressRange> parse_address_range(std::string_view text) {
  const std::size_t slash = text.find('/');
  const std::optional<Address> base = parse_address(text.substr(0, slash));
  if (!base) return std::nullopt;
  const int width = base->is_ipv4() && text.find(':') == std::string_view::npos ? 32 : 128;
  int prefix = width;
  if (slash != std::string_view::npos) {
    const std::optional<unsigned> value = number(text.substr(slash + 1), 10, 3);
    if (!value || static_cast<int>(*value) > width) return std::nullopt;
    prefix = static_cast<int>(*value);
  }
  return AddressRange{*base, prefix + 128 - width};
}

bool AllowList::allows(const Address& peer) const {
  return ranges_.empty() || peer.is_loopback() ||
         std::any_of(ranges_.begin(), ranges_.end(),
                     [&peer](const AddressRange& range) { return range.contains(peer); });
}

}  // namespace talmir880::net
