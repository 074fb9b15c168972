#pragma once

// What the panel's and the server's command lines and start-up lines have in
// common: addresses, --allow, the warning for an open face and the log lines.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/allow_list.hpp"

namespace talmir880::programs {

// Where a SCPI raw socket listens unless told otherwise, the port
// instruments and their clients expect.
inline constexpr int kDefaultTcpPort = 5025;

// Digits only, the whole text.
std::optional<int> whole_number(std::string_view text);

// HOST:PORT; an IPv6 host in brackets, which are not kept.
struct HostPort {
  std::string host;
  int port = 0;
};
std::optional<HostPort> parse_host_port(std::string_view value);

// Whether an address given to --listen or --vxi11 reaches only this machine.
bool is_loopback(const std::string& host);

// --allow: the one refusal text of both parsers, and the warning for a face
// that listens beyond this machine with no --allow (`face`: "listening",
// "VXI-11").
std::string allow_error(const std::string& value);
std::string open_warning(const std::string& face, const std::string& host);
// Adds --allow's value to `allow`; the error text when it is no range.
std::optional<std::string> add_allowed(const std::string& value,
                                       std::vector<net::AddressRange>& allow);

// What a program says once a face listens: `where`, then the warning when
// the face reaches beyond this machine and no --allow limits who connects.
std::vector<std::string> listening_lines(std::string where, const std::string& face,
                                         const std::string& host, bool limited);

// The local time as the programs' log lines begin, for a journal read later.
std::string log_time_stamp();

// One line of --log-commands without its time: who, the command, and the
// line that caused it as the instrument cites it (scpi/command_log.hpp).
std::string command_log_text(std::string_view who, std::string_view command,
                             std::string_view cited);

}  // namespace talmir880::programs
