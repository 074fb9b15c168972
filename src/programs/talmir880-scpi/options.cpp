#include "programs/talmir880-scpi/options.hpp"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string_view>

#include "link/serial_port.hpp"
#include "programs/common/command_line.hpp"
#include "scpi/identity.hpp"

namespace talmir880::programs {
namespace {

// COMn, comn, a bare n as the simulator takes it, a device path, or
// tcp:HOST:PORT.
std::optional<PortChoice> port_choice(std::string_view value) {
  PortChoice out;
  if (value.starts_with("tcp:")) {
    const std::optional<HostPort> address = parse_host_port(value.substr(4));
    if (!address || address->port == 0) return std::nullopt;
    out.remote_host = address->host;
    out.remote_port = address->port;
    return out;
  }
  if (value.starts_with('/')) {
    out.device = value;
    return out;
  }
  if (value.starts_with("COM") || value.starts_with("com")) value.remove_prefix(3);
  const std::optional<int> n = whole_number(value);
  if (!n || *n < 1 || *n > 10) return std::nullopt;
  out.comm_port = *n;
  return out;
}

constexpr std::string_view kPortForms = "COM1 to COM10, 1 to 10, a device path or tcp:HOST:PORT";

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
      return where + "a line holds a port (" + std::string(kPortForms) +
             ") and, after it, a name, not " + std::string(line);
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
    {"--leave-running", &ServerOptions::leave_running, true},
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
  ServerOptions out;
  out.ports.clear();
  std::optional<std::string> lone_name;  // a --name before any --port: the default port's
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
    if (flag != "--port" && flag != "--ports-file" && flag != "--name" && flag != "--baud" &&
        flag != "--listen" && flag != "--vxi11" && flag != "--off-after" && flag != "--allow") {
      return {std::nullopt, "unknown option " + args[i]};
    }
    if (!value) {
      if (i + 1 >= args.size()) return {std::nullopt, flag + " needs a value"};
      value = args[++i];
    }
    if (flag == "--port") {
      const std::optional<PortChoice> port = port_choice(*value);
      if (!port)
        return {std::nullopt, "--port takes " + std::string(kPortForms) + ", not " + *value};
      out.ports.push_back(*port);
    }
    if (flag == "--ports-file") {
      const std::optional<std::string> text = read(*value);
      if (!text) return {std::nullopt, "--ports-file: cannot read " + *value};
      if (std::optional<std::string> error = take_ports_file(*value, *text, out.ports))
        return {std::nullopt, "--ports-file " + *error};
    }
    if (flag == "--name") {
      if (!valid_name(*value)) {
        return {std::nullopt, "--name takes up to " + std::to_string(kMaxNameLength) +
                                  " printable ASCII characters without spaces, commas, "
                                  "semicolons, quotes or #, not " +
                                  *value};
      }
      std::string& name = out.ports.empty() ? lone_name.emplace() : out.ports.back().name;
      if (!name.empty()) return {std::nullopt, "--name: one name for each --port, after it"};
      name = *value;
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
  if (lone_name && !out.ports.empty()) {
    return {std::nullopt, "--name names the --port before it"};
  }
  if (lone_name) out.ports.emplace_back().name = *lone_name;
  if (std::optional<std::string> error = settle_ports(out.ports, out.tcp_port))
    return {std::nullopt, *error};
  if (out.stdio && out.ports.size() > 1)
    return {std::nullopt, "--stdio serves one port, not " + std::to_string(out.ports.size())};
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
  return "Usage: talmir880-scpi [--port COMn|N|DEVICE|tcp:HOST:PORT [--name NAME]]...\n"
         "                      [--ports-file FILE] [--baud B]\n"
         "                      [--listen HOST:PORT | --stdio] [--vxi11 HOST:PORT | --no-vxi11]\n"
         "                      [--off-at-exit] [--off-when-unused] [--off-after SECONDS]\n"
         "                      [--leave-running] [--log-commands]\n"
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
         "                       Repeat --port for several generators (at most " +
         std::to_string(kMaxPorts) +
         "):\n"
         "                       generator i (0, 1, ...) answers on the raw socket at the\n"
         "                       --listen port + i and as VXI-11 device inst<i>\n"
         "                       (TCPIP::host::inst1::INSTR); each has its own settings,\n"
         "                       errors and status\n"
         "  --name NAME          the name of the --port before it, as *IDN? gives it in the\n"
         "                       serial field and as it is announced (default: the port,\n"
         "                       such as COM3); printable ASCII, no spaces, commas,\n"
         "                       semicolons, quotes or #, at most 32 characters\n"
         "  --ports-file FILE    more ports, one a line: PORT [NAME]; blank lines and text\n"
         "                       from # on are skipped\n"
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
         "                       (past 100 bytes, its first 100 and its length)\n"
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
         "                       with it they log in on the page to change settings; the\n"
         "                       file must be its owner's alone (chmod 600 FILE)\n"
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
         "  --leave-running      write nothing to the device until a client acts: a\n"
         "                       generator saved to start up emitting goes on emitting,\n"
         "                       not confirmed, until the switch-off that goes ahead of a\n"
         "                       client's first device command\n"
         "\n"
         "  -h, --help, --version\n"
         "\n"
         "The device cannot be asked what it holds. When the server first reaches it, and\n"
         "whenever the device or the link to it comes back, RF and modulation are switched\n"
         "off before anything else; a switch-off the device did not acknowledge is written\n"
         "again until it does. Until the device acknowledged the last command for them,\n"
         "the RF output and the modulation are not confirmed: OUTP? and OUTP:MOD? answer\n"
         "1 and STATus:QUEStionable bit 10 (1024) is set. FREQ and LFO:FREQ are kept\n"
         "until OUTP ON or OUTP:MOD ON sends them, and nothing else switches them on.\n"
         "Every complete line received runs, in order, even when its client has gone;\n"
         "at an orderly end of input a last line without LF runs too. A device fault is\n"
         "queued with its cause (-240 no acknowledge or sweep stalled; -241 port busy, no\n"
         "such port, device gone or network link lost). A missing port is reported at start and "
         "the server\n"
         "serves all the same; while the device is absent the port is tried at most once\n"
         "a second, and its loss and return (once it answered) are logged on standard error.\n"
         "A connection that sends an HTTP request or header line, as a web page can make a\n"
         "browser do, is closed at once and nothing it sent from that line on runs; a\n"
         "line on standard error names its address, at most once a minute.\n";
}

}  // namespace talmir880::programs
