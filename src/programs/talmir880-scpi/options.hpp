#pragma once

// Command-line flags of talmir880-scpi, parsed apart from main() so the
// accepted forms are tested without starting a server.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/serial_port.hpp"
#include "net/allow_list.hpp"
#include "programs/common/command_line.hpp"
#include "protocol/commands.hpp"

namespace talmir880::programs {

// The faces this build serves: VXI-11 and DNS-SD need Linux services
// (libtirpc and rpcbind, Avahi), --stdio the POSIX event loop on standard
// input. A Windows build has the raw socket and the web page; the flags of
// the others are read all the same, and the server says they are not here.
inline constexpr bool kServesVxi11 = TALMIR880_VXI11;
inline constexpr bool kAnnounces = TALMIR880_DNS_SD;
inline constexpr bool kServesStdio = TALMIR880_STDIO;

// One generator's port, as --port or a line of --ports-file gives it.
struct PortChoice {
  int comm_port = kStartUpCommPort;  // COM<n>, found by the port-name rule, as the panel's
  std::string device;                // a device path instead, when given
  // tcp:HOST:PORT: a raw TCP connection (ser2net) instead, when remote_host
  // is set; the far side sets the line, so --baud only paces the end of a
  // pass.
  std::string remote_host;  // IPv6 without its brackets
  int remote_port = 0;
  // *IDN?'s serial field and the name it is announced by: --name, else the
  // port as written here ("COM3", "/dev/ttyUSB0", "tcp:[::1]:4001").
  std::string name;

  std::string port_text() const;
};

struct ServerOptions {
  // Generator i answers on the raw socket at tcp_port + i and as VXI-11
  // device inst<i>. Never empty: COM9 unless ports are given.
  std::vector<PortChoice> ports{PortChoice{}};
  std::string settings{protocol::kStartUpSpeed};
  std::string host = "127.0.0.1";
  int tcp_port = kDefaultTcpPort;  // 0: any free port, told at start
  bool raw = true;                 // the raw socket (the Tango server's only when asked)
  bool stdio = false;
  bool vxi11 = kServesVxi11;  // VXI-11 beside the raw socket, registered with rpcbind
  std::string vxi11_host = "127.0.0.1";
  int vxi11_port = 0;  // 0: any free port, as rpcbind tells clients
  // The raw sockets, VXI-11 and the web page announced by DNS-SD through
  // the system's Avahi daemon, on the interfaces they listen on.
  bool mdns = kAnnounces;
  // RF and modulation off on the server's own: at exit, when the last
  // client has gone, after this many seconds without a line (0: never).
  bool off_at_exit = false;
  bool off_when_unused = false;
  int off_after_s = 0;
  // Nothing written until a client acts: no switch-off by itself when the
  // device is first reached or comes back.
  bool leave_running = false;
  bool log_commands = false;  // each command to the device on standard error
  bool help = false;
  bool version = false;

  // The web page (--http [HOST:]PORT): off unless asked for, since it is one
  // more way to switch the RF output; a bare port is on loopback.
  bool http = false;
  std::string http_host = "127.0.0.1";
  int http_port = 0;
  std::string http_password_file;  // empty: control from loopback only
  // The page over TLS (--https [HOST:]PORT), beside or instead of --http,
  // with the owner's certificate and key, or one made at first start.
  bool https = false;
  std::string https_host = "127.0.0.1";
  int https_port = 0;
  std::string tls_certificate;
  std::string tls_key;

  // --allow, repeatable: who may connect besides loopback (empty: everyone).
  std::vector<net::AddressRange> allow;
};

struct ParsedServerOptions {
  std::optional<ServerOptions> options;
  std::string error;  // set when options is empty
};

// The most generators one server serves.
constexpr std::size_t kMaxPorts = 16;

// The text of a file, or nothing when it cannot be read.
using ReadFile = std::function<std::optional<std::string>(const std::string& path)>;
std::optional<std::string> read_file(const std::string& path);

// Arguments without the program name; "--flag value" and "--flag=value".
// --listen and --stdio together are refused. --ports-file is read with
// `read`.
ParsedServerOptions parse_server_options(const std::vector<std::string>& args,
                                         const ReadFile& read = read_file);

std::string server_usage();

}  // namespace talmir880::programs
