#include "programs/common/command_line.hpp"

#include <charconv>

#include "platform/local_time.hpp"

namespace talmir880::programs {

std::optional<int> whole_number(std::string_view text) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

std::optional<HostPort> parse_host_port(std::string_view value) {
  const std::size_t colon = value.rfind(':');
  if (colon == std::string_view::npos || colon == 0) return std::nullopt;
  std::string_view host = value.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string_view::npos) {
    return std::nullopt;  // an IPv6 address needs its brackets
  }
  const std::optional<int> port = whole_number(value.substr(colon + 1));
  if (host.empty() || !port || *port < 0 || *port > 65535) return std::nullopt;
  return HostPort{std::string(host), *port};
}

bool is_loopback(const std::string& host) {
  return host == "localhost" || host == "::1" || host.starts_with("127.");
}

std::string allow_error(const std::string& value) {
  return "--allow takes a numeric IPv4 or IPv6 ADDRESS[/PREFIX], not " + value;
}

std::string open_warning(const std::string& face, const std::string& host) {
  return "warning: " + face + " on " + host +
         ": anyone who can reach this address can switch the RF output; --allow ADDRESS[/PREFIX] "
         "names who may connect";
}

std::optional<std::string> add_allowed(const std::string& value,
                                       std::vector<net::AddressRange>& allow) {
  const std::optional<net::AddressRange> range = net::parse_address_range(value);
  if (!range) return allow_error(value);
  allow.push_back(*range);
  return std::nullopt;
}

std::vector<std::string> listening_lines(std::string where, const std::string& face,
                                         const std::string& host, bool limited) {
  std::vector<std::string> lines{std::move(where)};
  if (!is_loopback(host) && !limited) lines.push_back(open_warning(face, host));
  return lines;
}

std::string log_time_stamp() { return platform::local_time_stamp(); }

std::string command_log_text(std::string_view who, std::string_view command,
                             std::string_view cited) {
  std::string out;
  out.append(who).append(" ").append(command);
  if (!cited.empty()) out.append(" <- ").append(cited);
  return out;
}

}  // namespace talmir880::programs
