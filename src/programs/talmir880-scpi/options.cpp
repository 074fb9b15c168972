#include "programs/talmir880-scpi/options.hpp"

#include <string_view>

#include "link/serial_port.hpp"
#include "programs/common/command_line.hpp"

namespace talmir880::programs {
namespace {

// COMn, comn, a bare n as the simulator takes it, a device path, or
// tcp:HOST:PORT. The last one given counts.
bool take_port(std::string_view value, ServerOptions& out) {
  if (value.starts_with("tcp:")) {
    const std::optional<HostPort> address = parse_host_port(value.substr(4));
    if (!address || address->port == 0) return false;
    out.remote_host = address->host;
    out.remote_port = address->port;
    out.device.clear();
    return true;
  }
  out.remote_host.clear();
  out.remote_port = 0;
  if (value.starts_with('/')) {
    out.device = value;
    return true;
  }
  if (value.starts_with("COM") || value.starts_with("com")) value.remove_prefix(3);
  const std::optional<int> n = whole_number(value);
  if (!n || *n < 1 || *n > 10) return false;
  out.comm_port = *n;
  out.device.clear();
  return true;
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
  std::string out;
  for (std::size_t i = 0; i < protocol::kSpeedSettings.size(); ++i) {
    if (i > 0) out += i + 1 == protocol::kSpeedSettings.size() ? " or " : ", ";
    out += protocol::baud_of(protocol::kSpeedSettings[i]);
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
bool take_http(std::string_view value, ServerOptions& out) {
  std::optional<HostPort> address = parse_host_port(value);
  if (!address) {
    const std::optional<int> port = whole_number(value);
    if (!port || *port > 65535) return false;
    address = HostPort{"127.0.0.1", *port};
  }
  out.http = true;
  out.http_host = address->host;
  out.http_port = address->port;
  return true;
}

// The flags that take no value, and what each sets.
struct Switch {
  std::string_view flag;
  bool ServerOptions::*field;
  bool value;
};
constexpr Switch kSwitches[] = {
    {"--stdio", &ServerOptions::stdio, true},
    {"--help", &ServerOptions::help, true},
    {"--version", &ServerOptions::version, true},
    {"--no-vxi11", &ServerOptions::vxi11, false},
    {"--no-http", &ServerOptions::http, false},
    {"--no-mdns", &ServerOptions::mdns, false},
    {"--off-at-exit", &ServerOptions::off_at_exit, true},
    {"--off-when-unused", &ServerOptions::off_when_unused, true},
    {"--log-commands", &ServerOptions::log_commands, true},
};

const Switch* find_switch(std::string_view flag) {
  for (const Switch& sw : kSwitches) {
    if (sw.flag == flag) return &sw;
  }
  return nullptr;
}

// A day: longer would outlast any run left alone on purpose.
constexpr int kMaxOffAfterS = 86400;

}  // namespace

ParsedServerOptions parse_server_options(const std::vector<std::string>& args) {
  ServerOptions out;
  bool listen = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string flag = args[i];
    std::optional<std::string> value;
    if (const std::size_t eq = flag.find('='); flag.starts_with("--") && eq != std::string::npos) {
      value = flag.substr(eq + 1);
      flag.resize(eq);
    }
    if (flag == "-h") flag = "--help";
    if (const Switch* sw = find_switch(flag)) {
      if (value) return {std::nullopt, flag + " takes no value"};
      out.*(sw->field) = sw->value;
      continue;
    }
    if (flag == "--http" || flag == "--http-password-file") {
      if (!value) {
        if (i + 1 >= args.size()) return {std::nullopt, flag + " needs a value"};
        value = args[++i];
      }
      if (flag == "--http-password-file") {
        out.http_password_file = *value;
      } else if (!take_http(*value, out)) {
        return {std::nullopt, "--http takes [HOST:]PORT (an IPv6 host in brackets), not " + *value};
      }
      continue;
    }
    if (flag != "--port" && flag != "--baud" && flag != "--listen" && flag != "--vxi11" &&
        flag != "--off-after" && flag != "--allow") {
      return {std::nullopt, "unknown option " + args[i]};
    }
    if (!value) {
      if (i + 1 >= args.size()) return {std::nullopt, flag + " needs a value"};
      value = args[++i];
    }
    if (flag == "--port" && !take_port(*value, out)) {
      return {std::nullopt,
              "--port takes COM1 to COM10, 1 to 10, a device path or tcp:HOST:PORT, not " + *value};
    }
    if (flag == "--baud" && !take_baud(*value, out)) {
      return {std::nullopt, "--baud takes " + speeds_text() + ", not " + *value};
    }
    if (flag == "--listen" && !take_listen(*value, out)) {
      return {std::nullopt, "--listen takes HOST:PORT (an IPv6 host in brackets), not " + *value};
    }
    if (flag == "--vxi11" && !take_vxi11(*value, out)) {
      return {std::nullopt, "--vxi11 takes HOST:PORT (an IPv6 host in brackets), not " + *value};
    }
    if (flag == "--off-after") {
      const std::optional<int> seconds = whole_number(*value);
      if (!seconds || *seconds < 1 || *seconds > kMaxOffAfterS) {
        return {std::nullopt, "--off-after takes whole seconds from 1 to " +
                                  std::to_string(kMaxOffAfterS) + ", not " + *value};
      }
      out.off_after_s = *seconds;
    }
    if (flag == "--allow") {
      if (std::optional<std::string> error = add_allowed(*value, out.allow))
        return {std::nullopt, *error};
    }
    listen = listen || flag == "--listen";
  }
  // --stdio serves no socket, so a --listen beside it would be silently ignored.
  if (listen && out.stdio) return {std::nullopt, "--listen and --stdio exclude each other"};
  if (out.http && out.stdio) return {std::nullopt, "--http and --stdio exclude each other"};
  if (!out.http_password_file.empty() && !out.http)
    return {std::nullopt, "--http-password-file needs --http"};
  if (!out.allow.empty() && out.stdio)
    return {std::nullopt, "--allow and --stdio exclude each other"};
  return {out, {}};
}

std::string server_usage() {
  return "Usage: talmir880-scpi [--port COMn|N|DEVICE|tcp:HOST:PORT] [--baud B]\n"
         "                      [--listen HOST:PORT | --stdio] [--vxi11 HOST:PORT | --no-vxi11]\n"
         "                      [--off-at-exit] [--off-when-unused] [--off-after SECONDS]\n"
         "                      [--log-commands]\n"
         "                      [--allow ADDRESS[/PREFIX]]...\n"
         "                      [--http [HOST:]PORT [--http-password-file FILE] | --no-http]\n"
         "                      [--no-mdns]\n"
         "The TALMIR-880 as a SCPI instrument: IEEE 488.2 common commands and the usual\n"
         "RF-source commands, over a raw TCP socket or on standard input and output.\n"
         "\n"
         "  --port COMn|N|DEVICE the generator's port: COM1 to COM10 (or just 1 to 10) as\n"
         "                       the panel finds them (the ports folder, then the system's\n"
         "                       serial devices, USB adapters first), or a device path\n"
         "                       such as /dev/ttyUSB0 (default COM9)\n"
         "  --port tcp:HOST:PORT a generator on another machine: a raw TCP connection to\n"
         "                       ser2net or the like, which sets the line (an IPv6 host\n"
         "                       in brackets); a dropped link is -241 \"network link lost\"\n"
         "                       and is connected again as a replugged adapter is\n"
         "  --baud B             " +
         speeds_text() +
         "\n"
         "                       (default " +
         std::string(protocol::baud_of(protocol::kStartUpSpeed)) +
         "; always 8 data bits, no parity, 1 stop bit)\n"
         "  --listen HOST:PORT   where to listen (default 127.0.0.1:5025; an IPv6 host in\n"
         "                       brackets; port 0: any free port). The first line on\n"
         "                       standard error says where it listens; for any address but\n"
         "                       this machine's own a warning follows that line: everyone\n"
         "                       who can reach the address can switch the RF output,\n"
         "                       unless --allow names who may connect.\n"
         "  --vxi11 HOST:PORT    where VXI-11 (TCPIP::host::INSTR) listens (default\n"
         "                       127.0.0.1 on any free port), registered with rpcbind\n"
         "  --no-vxi11           the raw socket only\n"
         "  --log-commands       each command written to the device, one line on standard\n"
         "                       error (the journal under systemd): the time, the client's\n"
         "                       address and port (or stdio, or server for a switch-off of\n"
         "                       its own), the command and the SCPI line that caused it\n"
         "  --allow ADDRESS[/PREFIX]\n"
         "                       who may connect to the raw socket and VXI-11 besides this\n"
         "                       machine (repeatable; IPv4 or IPv6, a bare address is one\n"
         "                       host); anyone else is closed before a line is read.\n"
         "                       Without it everyone who can reach the address may\n"
         "                       connect.\n"
         "  --http [HOST:]PORT   serve the web page, a live front panel with the LXI\n"
         "                       identification (/lxi/identification), on HOST:PORT; a\n"
         "                       bare PORT is 127.0.0.1 (port 0: any free port). Off\n"
         "                       unless given. --allow applies. Visitors from other\n"
         "                       machines see it read-only, unless\n"
         "  --http-password-file FILE\n"
         "                       holds a password on its first line (there is no default):\n"
         "                       with it they log in on the page to change settings\n"
         "  --no-http            no web page (the default)\n"
         "  --no-mdns            announce nothing on the network. By default the raw\n"
         "                       socket, VXI-11 and the web page are announced by DNS-SD\n"
         "                       (_scpi-raw._tcp, _vxi-11._tcp, _http._tcp, _lxi._tcp)\n"
         "                       through the system's avahi-daemon, on the interfaces\n"
         "                       they listen on (loopback: on loopback only); without the\n"
         "                       daemon a line says so and the server serves on\n"
         "  --stdio              serve one session on standard input and output instead;\n"
         "                       exit at end of input once every line has run, 0 when no\n"
         "                       error was queued, else 1 (errors left unread are printed\n"
         "                       on standard error)\n"
         "\n"
         "A safe state, each off unless asked for: RF and modulation switched off, after the\n"
         "lines already received have run and with passes no longer repeating,\n"
         "  --off-at-exit        when the server is stopped (SIGTERM, SIGINT, end of --stdio\n"
         "                       input); a second signal ends it at once\n"
         "  --off-when-unused    when its last client has gone\n"
         "  --off-after SECONDS  when no line has come for SECONDS (1 to 86400) while the\n"
         "                       output, the modulation or a pass is on: a dead-man switch\n"
         "                       for unattended runs (make it longer than your longest pass)\n"
         "\n"
         "  -h, --help, --version\n"
         "\n"
         "At start the RF output and the modulation count as off: FREQ and LFO:FREQ are\n"
         "kept until OUTP ON or OUTP:MOD ON sends them, and nothing else switches them on.\n"
         "Every complete line received runs, in order, even when its client has gone;\n"
         "at an orderly end of input a last line without LF runs too. A device fault is\n"
         "queued with its cause (-240 no acknowledge or sweep stalled; -241 port busy, no\n"
         "such port, device gone or network link lost). A missing port is reported at start and "
         "the server\n"
         "serves all the same; while the device is absent the port is tried at most once\n"
         "a second, and its loss and return are logged on standard error.\n"
         "A connection that sends an HTTP request or header line, as a web page can make a\n"
         "browser do, is closed at once and nothing it sent from that line on runs; a\n"
         "line on standard error names its address, at most once a minute.\n";
}

}  // namespace talmir880::programs
