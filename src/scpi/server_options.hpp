#pragma once

// Command-line flags of talmir880-scpi, parsed apart from main() so the
// accepted forms are tested without starting a server.

#include <optional>
#include <string>
#include <vector>

#include "scpi/allow_list.hpp"

namespace talmir880::scpi {

struct ServerOptions {
  int comm_port = 9;   // COM<n>, found by the port-name rule, as the panel's default
  std::string device;  // a device path instead, when given
  std::string settings = "57600,n,8,1";
  std::string host = "127.0.0.1";
  int tcp_port = 5025;  // 0: any free port, told at start
  bool stdio = false;
  bool vxi11 = true;  // VXI-11 beside the raw socket, registered with rpcbind
  std::string vxi11_host = "127.0.0.1";
  int vxi11_port = 0;  // 0: any free port, as rpcbind tells clients
  // RF and modulation off on the server's own: at exit, when the last
  // client has gone, after this many seconds without a line (0: never).
  bool off_at_exit = false;
  bool off_when_unused = false;
  int off_after_s = 0;
  bool log_commands = false;  // each command to the device on standard error
  bool help = false;
  bool version = false;

  // --allow, repeatable: who may connect besides loopback (empty: everyone).
  std::vector<AddressRange> allow;
};

struct ParsedServerOptions {
  std::optional<ServerOptions> options;
  std::string error;  // set when options is empty
};

// Arguments without the program name; "--flag value" and "--flag=value".
// --listen and --stdio together are refused.
ParsedServerOptions parse_server_options(const std::vector<std::string>& args);

// The panel's own flags: `talmir880 [--listen [[HOST:]PORT]]`. Without
// --listen the panel serves nothing.
struct PanelOptions {
  bool listen = false;
  std::string host = "127.0.0.1";
  int tcp_port = 5025;
  bool log_commands = false;
  bool help = false;

  // --allow, as the server's.
  std::vector<AddressRange> allow;
};
struct ParsedPanelOptions {
  std::optional<PanelOptions> options;
  std::string error;  // set when options is empty
};
// Arguments without the program name and those Qt took.
ParsedPanelOptions parse_panel_options(const std::vector<std::string>& args);
std::string panel_usage();

// Whether an address given to --listen or --vxi11 reaches only this machine.
bool is_loopback(const std::string& host);

// HOST:PORT as --listen takes it back: an IPv6 host in brackets.
std::string address_text(const std::string& host, int port);

std::string server_usage();

// The local time as the programs' log lines begin, for a journal read later.
std::string log_time_stamp();

// One line of --log-commands without its time: who, the command, and the
// line that caused it, with the line's control and non-ASCII bytes written
// as \xNN so that a client cannot forge or garble log lines.
std::string command_log_text(std::string_view who, std::string_view command, std::string_view line);
// --allow: the one refusal text of both parsers, and the warning for a face
// that listens beyond this machine with no --allow (`face`: "listening",
// "VXI-11").
std::string allow_error(const std::string& value);
std::string open_warning(const std::string& face, const std::string& host);

}  // namespace talmir880::scpi
