#include "programs/talmir880-scpi/options.hpp"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string_view>

#include "device/device_session.hpp"
#include "generator/status.hpp"
#include "platform/port_location.hpp"
#include "programs/common/option_table.hpp"
#include "scpi/identity.hpp"

namespace talmir880::programs {
namespace {

// A serial port as this system names it (COMn, comn, a bare n as the
// simulator takes it, a device path), or tcp:HOST:PORT.
std::optional<PortChoice> port_choice(std::string_view value) {
  PortChoice out;
  if (value.starts_with("tcp:")) {
    const std::optional<HostPort> address = parse_host_port(value.substr(4));
    if (!address || address->port == 0) return std::nullopt;
    out.remote_host = address->host;
    out.remote_port = address->port;
    return out;
  }
  const std::optional<platform::SerialChoice> serial =
      platform::serial_port_named(value, kLastCommPort);
  if (!serial) return std::nullopt;
  out.comm_port = serial->comm_port;
  out.device = serial->device;
  return out;
}

// "a, b or c".
std::string listed(const std::vector<std::string>& items) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += i + 1 == items.size() ? " or " : ", ";
    out += items[i];
  }
  return out;
}

std::string port_forms() {
  return platform::serial_port_forms(kLastCommPort) + " or tcp:HOST:PORT";
}

// A name fits *IDN?'s serial field as it stands and reads in a service name.
constexpr std::size_t kMaxNameLength = 32;
bool valid_name(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameLength) return false;
  return std::all_of(name.begin(), name.end(), scpi::fits_serial_field);
}

// The ports of a --ports-file: one a line, "PORT [NAME]"; blank lines and
// lines from "#" on are skipped. An error names the file and line.
std::optional<std::string> take_ports_file(const std::string& path, const std::string& text,
                                           std::vector<PortChoice>& ports) {
  std::size_t number = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + start, end - start);
    start = end + 1;
    ++number;
    if (const std::size_t hash = line.find('#'); hash != std::string_view::npos) {
      line = line.substr(0, hash);
    }
    std::vector<std::string_view> words;
    for (std::size_t i = 0; i < line.size();) {
      while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
      std::size_t j = i;
      while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r') ++j;
      if (j > i) words.push_back(line.substr(i, j - i));
      i = j;
    }
    if (words.empty()) continue;
    const std::string where = path + ":" + std::to_string(number) + ": ";
    std::optional<PortChoice> port;
    if (words.size() > 2 || !(port = port_choice(words[0]))) {
      return where + "a line holds a port (" + port_forms() + ") and, after it, a name, not " +
             std::string(line);
    }
    if (words.size() == 2) {
      if (!valid_name(words[1]))
        return where + "a name is printable ASCII, not " + std::string(words[1]);
      port->name = words[1];
    }
    ports.push_back(*port);
  }
  return std::nullopt;
}

// The ports as given, named, and told apart: a second --port of the same
// device or a name taken twice would leave one generator unreachable.
std::optional<std::string> settle_ports(std::vector<PortChoice>& ports, int tcp_port) {
  if (ports.empty()) ports.emplace_back();
  if (ports.size() > kMaxPorts) {
    return "at most " + std::to_string(kMaxPorts) + " ports, not " + std::to_string(ports.size());
  }
  for (std::size_t i = 0; i < ports.size(); ++i) {
    if (ports[i].name.empty()) ports[i].name = ports[i].port_text();
    for (std::size_t j = 0; j < i; ++j) {
      if (ports[j].port_text() == ports[i].port_text())
        return "--port " + ports[i].port_text() + " is given twice";
      if (ports[j].name == ports[i].name) return "the name " + ports[i].name + " is given twice";
    }
  }
  if (tcp_port > 0 && tcp_port + static_cast<int>(ports.size()) - 1 > 65535) {
    return "--listen: " + std::to_string(ports.size()) + " ports from " + std::to_string(tcp_port) +
           " run past 65535";
  }
  return std::nullopt;
}

bool take_baud(std::string_view value, ServerOptions& out) {
  for (std::string_view settings : protocol::kSpeedSettings) {
    if (protocol::baud_of(settings) == value) {
      out.settings = settings;
      return true;
    }
  }
  return false;
}

// "300, 600, ..., 38400 or 57600", as --baud takes them.
std::string speeds_text() {
  std::vector<std::string> bauds;
  for (std::string_view settings : protocol::kSpeedSettings) {
    bauds.emplace_back(protocol::baud_of(settings));
  }
  return listed(bauds);
}

// The error a command that meets the fault is answered with.
int fault_error(DeviceFault fault) {
  return unreachable(fault) ? kHardwareMissing : kHardwareError;
}

// The usual faults by their error: "-240 no acknowledge or sweep stalled;
// -241 port busy, ...".
std::string fault_causes_text() {
  std::string out;
  for (const int error : {kHardwareError, kHardwareMissing}) {
    std::vector<std::string> causes;
    for (const DeviceFault fault :
         {DeviceFault::no_acknowledge, DeviceFault::stalled, DeviceFault::port_busy,
          DeviceFault::no_such_port, DeviceFault::device_gone, DeviceFault::link_lost}) {
      if (fault_error(fault) == error) causes.emplace_back(cause(fault));
    }
    out += (out.empty() ? "" : "; ") + std::to_string(error) + " " + listed(causes);
  }
  return out;
}

bool take_listen(std::string_view value, ServerOptions& out) {
  const std::optional<HostPort> address = parse_host_port(value);
  if (!address) return false;
  out.host = address->host;
  out.tcp_port = address->port;
  return true;
}

bool take_vxi11(std::string_view value, ServerOptions& out) {
  const std::optional<HostPort> address = parse_host_port(value);
  if (!address) return false;
  out.vxi11 = true;
  out.vxi11_host = address->host;
  out.vxi11_port = address->port;
  return true;
}

// [HOST:]PORT; a bare port is on loopback.
std::optional<HostPort> web_address(std::string_view value) {
  std::optional<HostPort> address = parse_host_port(value);
  if (!address) {
    const std::optional<int> port = whole_number(value);
    if (!port || *port > 65535) return std::nullopt;
    address = HostPort{"127.0.0.1", *port};
  }
  return address;
}

bool take_http(std::string_view value, ServerOptions& out) {
  const std::optional<HostPort> address = web_address(value);
  if (!address) return false;
  out.http = true;
  out.http_host = address->host;
  out.http_port = address->port;
  return true;
}

bool take_https(std::string_view value, ServerOptions& out) {
  const std::optional<HostPort> address = web_address(value);
  if (!address) return false;
  out.https = true;
  out.https_host = address->host;
  out.https_port = address->port;
  return true;
}

// A day: longer would outlast any run left alone on purpose.
constexpr int kMaxOffAfterS = 86400;

// What a parse fills: the options, and what is settled once every flag is in.
struct ServerParse : ServerOptions {
  const ReadFile* read = nullptr;
  std::optional<std::string> lone_name;  // a --name before any --port: the default port's
  bool listen = false;
};
using Row = OptionRow<ServerParse>;
using Value = std::optional<std::string_view>;
using Refusal = std::optional<std::string>;

// A value flag's refusal: "--flag takes WHAT, not VALUE".
Refusal takes(std::string_view flag, std::string_view what, Value value) {
  return std::string(flag) + " takes " + std::string(what) + ", not " + std::string(*value);
}

Refusal take_port(ServerParse& out, Value value) {
  const std::optional<PortChoice> port = port_choice(*value);
  if (!port) return takes("--port", port_forms(), value);
  out.ports.push_back(*port);
  return std::nullopt;
}

Refusal take_ports_file_flag(ServerParse& out, Value value) {
  const std::string path(*value);
  const std::optional<std::string> text = (*out.read)(path);
  if (!text) return "--ports-file: cannot read " + path;
  if (std::optional<std::string> error = take_ports_file(path, *text, out.ports))
    return "--ports-file " + *error;
  return std::nullopt;
}

Refusal take_name(ServerParse& out, Value value) {
  if (!valid_name(*value)) {
    return takes("--name",
                 "up to " + std::to_string(kMaxNameLength) +
                     " printable ASCII characters without spaces, commas, semicolons, quotes or #",
                 value);
  }
  std::string& name = out.ports.empty() ? out.lone_name.emplace() : out.ports.back().name;
  if (!name.empty()) return "--name: one name for each --port, after it";
  name = *value;
  return std::nullopt;
}

// What --listen and --vxi11 take.
constexpr std::string_view kHostPortForm = "HOST:PORT (an IPv6 host in brackets)";

// The rows in the order --help gives them.
const std::vector<Row>& server_rows() {
  static const ServerOptions defaults;
  static const std::vector<Row> rows = {
      {.flag = "--port",
       .takes = Takes::value,
       .take = take_port,
       .argument = "COMn|N|DEVICE",
       .help = platform::serial_port_help(kLastCommPort) + " (default {default})",
       .default_value = defaults.ports.front().port_text()},
      {.help = "a generator on another machine: a raw TCP connection to\n"
               "ser2net or the like, which sets the line (an IPv6 host\n"
               "in brackets); a dropped link is " +
               std::to_string(fault_error(DeviceFault::link_lost)) + " \"" +
               std::string(cause(DeviceFault::link_lost)) +
               "\"\n"
               "and is connected again as a replugged adapter is.\n"
               "Repeat --port for several generators (at most " +
               std::to_string(kMaxPorts) +
               "):\n"
               "generator i (0, 1, ...) answers on the raw socket at the\n"
               "--listen port + i and as VXI-11 device inst<i>\n"
               "(TCPIP::host::inst1::INSTR); each has its own settings,\n"
               "errors and status",
       .label = "--port tcp:HOST:PORT"},
      {.flag = "--name",
       .takes = Takes::value,
       .take = take_name,
       .argument = "NAME",
       .help = "the name of the --port before it, as *IDN? gives it in the\n"
               "serial field and as it is announced (default: the port,\n"
               "such as COM3); printable ASCII, no spaces, commas,\n"
               "semicolons, quotes or #, at most " +
               std::to_string(kMaxNameLength) + " characters"},
      {.flag = "--ports-file",
       .takes = Takes::value,
       .take = take_ports_file_flag,
       .argument = "FILE",
       .help = "more ports, one a line: PORT [NAME]; blank lines and text\n"
               "from # on are skipped"},
      {.flag = "--baud",
       .takes = Takes::value,
       .take =
           [](ServerParse& out, Value value) {
             return take_baud(*value, out) ? Refusal() : takes("--baud", speeds_text(), value);
           },
       .argument = "B",
       .help = speeds_text() + "\n(default {default}; always 8 data bits, no parity, 1 stop bit)",
       .default_value = std::string(protocol::baud_of(defaults.settings))},
      {.flag = "--listen",
       .takes = Takes::value,
       .take =
           [](ServerParse& out, Value value) {
             out.listen = true;
             return take_listen(*value, out) ? Refusal() : takes("--listen", kHostPortForm, value);
           },
       .argument = "HOST:PORT",
       .help = "where to listen (default {default}; an IPv6 host in\n"
               "brackets; port 0: any free port). The first line on\n"
               "standard error says where it listens; for any address but\n"
               "this machine's own a warning follows that line: everyone\n"
               "who can reach the address can switch the RF output,\n"
               "unless --allow names who may connect.",
       .default_value = net::address_text(defaults.host, defaults.tcp_port)},
      {.flag = "--vxi11",
       .takes = Takes::value,
       .take =
           [](ServerParse& out, Value value) {
             return take_vxi11(*value, out) ? Refusal() : takes("--vxi11", kHostPortForm, value);
           },
       .argument = "HOST:PORT",
       .help = "where VXI-11 (TCPIP::host::INSTR) listens (default\n"
               "{default} on any free port), registered with rpcbind",
       .default_value = defaults.vxi11_host},
      {.flag = "--no-vxi11",
       .take = sets(&ServerOptions::vxi11, false),
       .help = "the raw socket only"},
      {.flag = "--log-commands",
       .take = sets(&ServerOptions::log_commands, true),
       .help = "each command written to the device, one line on standard\n"
               "error (the journal under systemd): the time, the client's\n"
               "address and port (or stdio, or server for a switch-off of\n"
               "its own), the command and the SCPI line that caused it\n"
               "(past 100 bytes, its first 100 and its length)"},
      {.flag = "--allow",
       .takes = Takes::value,
       .take = [](ServerParse& out,
                  Value value) { return add_allowed(std::string(*value), out.allow); },
       .argument = "ADDRESS[/PREFIX]",
       .help = "who may connect to the raw socket and VXI-11 besides this\n"
               "machine (repeatable; IPv4 or IPv6, a bare address is one\n"
               "host); anyone else is closed before a line is read.\n"
               "Without it everyone who can reach the address may\n"
               "connect."},
      {.flag = "--http",
       .takes = Takes::value,
       .take =
           [](ServerParse& out, Value value) {
             return take_http(*value, out)
                        ? Refusal()
                        : takes("--http", "[HOST:]PORT (an IPv6 host in brackets)", value);
           },
       .argument = "[HOST:]PORT",
       .help = "serve the web page, a live front panel with the LXI\n"
               "identification (/lxi/identification), on HOST:PORT; a\n"
               "bare PORT is 127.0.0.1 (port 0: any free port). Off\n"
               "unless given. --allow applies. With --https it only\n"
               "redirects there (but the identification). Visitors\n"
               "from other machines see it read-only, unless"},
      {.flag = "--http-password-file",
       .takes = Takes::value,
       .take =
           [](ServerParse& out, Value value) {
             out.http_password_file = *value;
             return Refusal();
           },
       .argument = "FILE",
       .help = "holds a password on its first line (there is no default):\n"
               "with it they log in on the page to change settings; the\n"
               "file must be its owner's alone (chmod 600 FILE)"},
      {.flag = "--https",
       .takes = Takes::value,
       .take =
           [](ServerParse& out, Value value) {
             return take_https(*value, out)
                        ? Refusal()
                        : takes("--https", "[HOST:]PORT (an IPv6 host in brackets)", value);
           },
       .argument = "[HOST:]PORT",
       .help = "serve the web page over TLS 1.2 or 1.3 on HOST:PORT, as\n"
               "--http does, beside it or instead of it; its\n"
               "certificate's SHA-256 fingerprint is said at start"},
      {.flag = "--tls-certificate",
       .takes = Takes::value,
       .take =
           [](ServerParse& out, Value value) {
             out.tls_certificate = *value;
             return Refusal();
           },
       .argument = "FILE",
       .help = "with --https: the certificate, PEM, a chain after it\n"
               "allowed. Without it and --tls-key one is made at first\n"
               "start and kept in the state folder"},
      {.flag = "--tls-key",
       .takes = Takes::value,
       .take =
           [](ServerParse& out, Value value) {
             out.tls_key = *value;
             return Refusal();
           },
       .argument = "FILE",
       .help = "with --https: the certificate's private key, PEM, its\n"
               "owner's alone (chmod 600 FILE)"},
      {.flag = "--no-http",
       .take = sets(&ServerOptions::http, false),
       .help = "no web page over plain HTTP (the default)"},
      {.flag = "--no-mdns",
       .take = sets(&ServerOptions::mdns, false),
       .help = "announce nothing on the network. By default the raw\n"
               "socket, VXI-11 and the web page are announced by DNS-SD\n"
               "(_scpi-raw._tcp, _vxi-11._tcp, _http._tcp, _lxi._tcp)\n"
               "through the system's avahi-daemon, on the interfaces\n"
               "they listen on (loopback: on loopback only); without the\n"
               "daemon a line says so and the server serves on"},
      {.flag = "--stdio",
       .take = sets(&ServerOptions::stdio, true),
       .help = "serve one session on standard input and output instead;\n"
               "exit at end of input once every line has run, 0 when no\n"
               "error was queued, else 1 (errors left unread are printed\n"
               "on standard error)"},
      {.help =
           "\n"
           "A safe state, each off unless asked for: RF and modulation switched off, after the\n"
           "lines already received have run and with passes no longer repeating,\n"},
      {.flag = "--off-at-exit",
       .take = sets(&ServerOptions::off_at_exit, true),
       .help = "when the server is stopped (SIGTERM, SIGINT, end of --stdio\n"
               "input); a second signal ends it at once"},
      {.flag = "--off-when-unused",
       .take = sets(&ServerOptions::off_when_unused, true),
       .help = "when its last client has gone"},
      {.flag = "--off-after",
       .takes = Takes::value,
       .take =
           [](ServerParse& out, Value value) {
             const std::optional<int> seconds = whole_number(*value);
             if (!seconds || *seconds < 1 || *seconds > kMaxOffAfterS) {
               return takes("--off-after",
                            "whole seconds from 1 to " + std::to_string(kMaxOffAfterS), value);
             }
             out.off_after_s = *seconds;
             return Refusal();
           },
       .argument = "SECONDS",
       .help = "when no line has come for SECONDS (1 to " + std::to_string(kMaxOffAfterS) +
               ") while the\n"
               "output, the modulation or a pass is on: a dead-man switch\n"
               "for unattended runs (make it longer than your longest pass)"},
      {.flag = "--leave-running",
       .take = sets(&ServerOptions::leave_running, true),
       .help = "write nothing to the device until a client acts: a\n"
               "generator saved to start up emitting goes on emitting,\n"
               "not confirmed, until the switch-off that goes ahead of a\n"
               "client's first device command"},
      {.help = "\n"},
      {.label = "-h, --help, --version"},
      {.flag = "--help", .take = sets(&ServerOptions::help, true)},
      {.flag = "-h", .take = sets(&ServerOptions::help, true)},
      {.flag = "--version", .take = sets(&ServerOptions::version, true)},
  };
  return rows;
}

// One line when this build lacks a face, as a Windows build does.
std::string faces_not_built() {
  std::vector<std::string> missing;
  if (!kServesVxi11) missing.emplace_back("VXI-11 (libtirpc, rpcbind)");
  if (!kAnnounces) missing.emplace_back("DNS-SD (Avahi)");
  if (!kServesStdio) missing.emplace_back("--stdio (a POSIX system)");
  if (missing.empty()) return {};
  return flowed_text("Not in this build: " + listed(missing) + ".");
}

}  // namespace

std::string PortChoice::port_text() const {
  if (!remote_host.empty()) {
    const bool v6 = remote_host.find(':') != std::string::npos;
    return "tcp:" + (v6 ? "[" + remote_host + "]" : remote_host) + ":" +
           std::to_string(remote_port);
  }
  return device.empty() ? "COM" + std::to_string(comm_port) : device;
}

std::optional<std::string> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return text.str();
}

ParsedServerOptions parse_server_options(const std::vector<std::string>& args,
                                         const ReadFile& read) {
  ServerParse out;
  out.ports.clear();
  out.read = &read;
  if (std::optional<std::string> error = parse_with(server_rows(), args, out))
    return {std::nullopt, *error};
  if (out.lone_name && !out.ports.empty()) {
    return {std::nullopt, "--name names the --port before it"};
  }
  if (out.lone_name) out.ports.emplace_back().name = *out.lone_name;
  if (std::optional<std::string> error = settle_ports(out.ports, out.tcp_port))
    return {std::nullopt, *error};
  if (out.stdio && out.ports.size() > 1)
    return {std::nullopt, "--stdio serves one port, not " + std::to_string(out.ports.size())};
  // --stdio serves no socket, so a --listen beside it would be silently ignored.
  if (out.listen && out.stdio) return {std::nullopt, "--listen and --stdio exclude each other"};
  if (out.http && out.stdio) return {std::nullopt, "--http and --stdio exclude each other"};
  if (out.https && out.stdio) return {std::nullopt, "--https and --stdio exclude each other"};
  if (!out.http_password_file.empty() && !out.http && !out.https)
    return {std::nullopt, "--http-password-file needs --http or --https"};
  if ((!out.tls_certificate.empty() || !out.tls_key.empty()) && !out.https)
    return {std::nullopt, "--tls-certificate and --tls-key need --https"};
  if (out.tls_certificate.empty() != out.tls_key.empty())
    return {std::nullopt, "--tls-certificate and --tls-key go together"};
  if (!out.allow.empty() && out.stdio)
    return {std::nullopt, "--allow and --stdio exclude each other"};
  return {static_cast<const ServerOptions&>(out), {}};
}

std::string server_usage() {
  return synopsis("talmir880-scpi", server_rows(),
                  {
                      "[--port [--name]]...",
                      "[--ports-file] [--baud]",
                      "[--listen | --stdio]",
                      "[--vxi11 | --no-vxi11]",
                      "[--off-at-exit] [--off-when-unused] [--off-after]",
                      "[--leave-running] [--log-commands]",
                      "[--allow]...",
                      "[--http] [--https [--tls-certificate --tls-key]]",
                      "[--http-password-file] [--no-http]",
                      "[--no-mdns]",
                  }) +
         "The TALMIR-880 as a SCPI instrument: IEEE 488.2 common commands and the usual\n"
         "RF-source commands, over a raw TCP socket or on standard input and output.\n" +
         faces_not_built() + "\n" + help_text(server_rows(), 23) + "\n" +
         flowed_text(
             "The device cannot be asked what it holds. When the server first reaches it, and\n"
             "whenever the device or the link to it comes back, RF and modulation are switched\n"
             "off before anything else; a switch-off the device did not acknowledge is written\n"
             "again until it does. Until the device acknowledged the last command for them,\n"
             "the RF output and the modulation are not confirmed: OUTP? and OUTP:MOD? answer\n"
             "1 and STATus:QUEStionable bit 10 (1024) is set. FREQ and LFO:FREQ are kept\n"
             "until OUTP ON or OUTP:MOD ON sends them, and nothing else switches them on.\n"
             "Every complete line received runs, in order, even when its client has gone;\n"
             "at an orderly end of input a last line without LF runs too. A device fault is\n"
             "queued with its cause (" +
             fault_causes_text() +
             ").\n"
             "A missing port is reported at start and the server\n"
             "serves all the same; while the device is absent the port is tried at most once\n"
             "a second, and its loss and return (once it answered) are logged on standard error.\n"
             "A connection that sends an HTTP request or header line, as a web page can make a\n"
             "browser do, is closed at once and nothing it sent from that line on runs; a\n"
             "line on standard error names its address, at most once a minute.");
}

}  // namespace talmir880::programs
