#include "scpi/server_options.hpp"

#include <charconv>
#include <ctime>
#include <string_view>

#include "link/serial_port.hpp"

namespace talmir880::scpi {
namespace {

std::optional<int> whole_number(std::string_view text) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

// COMn, comn, a bare n as the simulator takes it, or a device path.
bool take_port(std::string_view value, ServerOptions& out) {
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
  for (std::string_view settings : kSpeedSettings) {
    if (settings.substr(0, settings.find(',')) == value) {
      out.settings = settings;
      return true;
    }
  }
  return false;
}

// HOST:PORT, HOST may be a bracketed IPv6 address.
bool take_listen(std::string_view value, ServerOptions& out) {
  const std::size_t colon = value.rfind(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  std::string_view host = value.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string_view::npos) {
    return false;  // an IPv6 address needs its brackets
  }
  const std::optional<int> port = whole_number(value.substr(colon + 1));
  if (host.empty() || !port || *port < 0 || *port > 65535) return false;
  out.host = host;
  out.tcp_port = *port;
  return true;
}

bool take_vxi11(std::string_view value, ServerOptions& out) {
  ServerOptions parsed;
  if (!take_listen(value, parsed)) return false;
  out.vxi11 = true;
  out.vxi11_host = parsed.host;
  out.vxi11_port = parsed.tcp_port;
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

ParsedPanelOptions parse_panel_options(const std::vector<std::string>& args) {
  PanelOptions out;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      out.help = true;
      continue;
    }
    if (arg == "--log-commands") {
      out.log_commands = true;
      continue;
    }
    if (arg == "--allow" || arg.starts_with("--allow=")) {
      if (arg == "--allow" && i + 1 >= args.size()) return {std::nullopt, "--allow needs a value"};
      const std::string value = arg == "--allow" ? args[++i] : arg.substr(sizeof "--allow=" - 1);
      const std::optional<AddressRange> range = parse_address_range(value);
      if (!range) return {std::nullopt, allow_error(value)};
      out.allow.push_back(*range);
      continue;
    }
    if (arg != "--listen" && !arg.starts_with("--listen=")) {
      return {std::nullopt, "unknown option " + arg};
    }
    out.listen = true;
    std::string value;
    if (arg != "--listen") {
      value = arg.substr(std::string_view("--listen=").size());
    } else if (i + 1 < args.size() && !args[i + 1].starts_with("-")) {
      value = args[++i];
    } else {
      continue;  // the default address
    }
    // A port alone listens on this machine.
    if (value.find(':') == std::string::npos) value = "127.0.0.1:" + value;
    ServerOptions address;
    if (!take_listen(value, address)) {
      return {std::nullopt, "--listen takes [HOST:]PORT (an IPv6 host in brackets), not " + value};
    }
    out.host = address.host;
    out.tcp_port = address.tcp_port;
  }
  if (!out.allow.empty() && !out.listen) return {std::nullopt, "--allow needs --listen"};
  return {out, {}};
}

std::string panel_usage() {
  return "Usage: talmir880 [--listen [[HOST:]PORT] [--allow ADDRESS[/PREFIX]]...]\n"
         "                        [--log-commands]\n"
         "The TALMIR-880 control panel.\n"
         "\n"
         "  --listen [[HOST:]PORT]  also serve the generator as a SCPI instrument, the same as\n"
         "                          talmir880-scpi, over the port the panel opens (default\n"
         "                          127.0.0.1:5025; a port alone listens on 127.0.0.1). What a\n"
         "                          script does shows on the panel, and what the hand does\n"
         "                          shows in its queries. Any address but this machine's own\n"
         "                          lets everyone who can reach it switch the RF output.\n"
         "  --allow ADDRESS[/PREFIX] with --listen: who may connect besides this machine\n"
         "                          (repeatable; IPv4 or IPv6, a bare address is one host);\n"
         "                          anyone else is closed before a line is read\n"
         "  --log-commands          each command written to the device, one line on\n"
         "                          standard error: the time, who sent it (\"panel\" for the\n"
         "                          hand, a script's address and port) and the SCPI line\n"
         "  -h, --help\n"
         "\n"
         "A connection that sends an HTTP request or header line, as a web page can make a\n"
         "browser do, is closed at once and nothing it sent from that line on runs.\n";
}

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
    if (flag != "--port" && flag != "--baud" && flag != "--listen" && flag != "--vxi11" &&
        flag != "--off-after" && flag != "--allow") {
      return {std::nullopt, "unknown option " + args[i]};
    }
    if (!value) {
      if (i + 1 >= args.size()) return {std::nullopt, flag + " needs a value"};
      value = args[++i];
    }
    if (flag == "--port" && !take_port(*value, out)) {
      return {std::nullopt, "--port takes COM1 to COM10, 1 to 10 or a device path, not " + *value};
    }
    if (flag == "--baud" && !take_baud(*value, out)) {
      return {
          std::nullopt,
          "--baud takes 300, 600, 1200, 2400, 4800, 9600, 19200, 38400 or 57600, not " + *value};
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
      const std::optional<AddressRange> range = parse_address_range(*value);
      if (!range) return {std::nullopt, allow_error(*value)};
      out.allow.push_back(*range);
    }
    listen = listen || flag == "--listen";
  }
  // --stdio serves no socket, so a --listen beside it would be silently ignored.
  if (listen && out.stdio) return {std::nullopt, "--listen and --stdio exclude each other"};
  if (!out.allow.empty() && out.stdio)
    return {std::nullopt, "--allow and --stdio exclude each other"};
  return {out, {}};
}

std::string allow_error(const std::string& value) {
  return "--allow takes a numeric IPv4 or IPv6 ADDRESS[/PREFIX], not " + value;
}

std::string open_warning(const std::string& face, const std::string& host) {
  return "warning: " + face + " on " + host +
         ": anyone who can reach this address can switch the RF output; --allow ADDRESS[/PREFIX] "
         "names who may connect";
}

bool is_loopback(const std::string& host) {
  return host == "localhost" || host == "::1" || host.starts_with("127.");
}

std::string log_time_stamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S%z", &local);
  return stamp;
}

std::string command_log_text(std::string_view who, std::string_view command,
                             std::string_view line) {
  std::string out;
  out.append(who).append(" ").append(command);
  if (line.empty()) return out;
  out += " <- ";
  constexpr char kHex[] = "0123456789abcdef";
  for (const char ch : line) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte < 0x20 || byte >= 0x7f || byte == '\\') {
      out.append("\\x").push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0xf]);
    } else {
      out.push_back(ch);
    }
  }
  return out;
}

std::string address_text(const std::string& host, int port) {
  const std::string shown = host.find(':') == std::string::npos ? host : "[" + host + "]";
  return shown + ":" + std::to_string(port);
}

std::string server_usage() {
  return "Usage: talmir880-scpi [--port COMn|N|DEVICE] [--baud B]\n"
         "                      [--listen HOST:PORT | --stdio] [--vxi11 HOST:PORT | --no-vxi11]\n"
         "                      [--off-at-exit] [--off-when-unused] [--off-after SECONDS]\n"
         "                      [--log-commands]\n"
         "                      [--allow ADDRESS[/PREFIX]]...\n"
         "The TALMIR-880 as a SCPI instrument: IEEE 488.2 common commands and the usual\n"
         "RF-source commands, over a raw TCP socket or on standard input and output.\n"
         "\n"
         "  --port COMn|N|DEVICE the generator's port: COM1 to COM10 (or just 1 to 10) as\n"
         "                       the panel finds them (the ports folder, then the system's\n"
         "                       serial devices, USB adapters first), or a device path\n"
         "                       such as /dev/ttyUSB0 (default COM9)\n"
         "  --baud B             300, 600, 1200, 2400, 4800, 9600, 19200, 38400 or 57600\n"
         "                       (default 57600; always 8 data bits, no parity, 1 stop bit)\n"
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
         "such port or device gone). A missing port is reported at start and the server\n"
         "serves all the same; while the device is absent the port is tried at most once\n"
         "a second, and its loss and return are logged on standard error.\n"
         "A connection that sends an HTTP request or header line, as a web page can make a\n"
         "browser do, is closed at once and nothing it sent from that line on runs; a\n"
         "line on standard error names its address, at most once a minute.\n";
}

}  // namespace talmir880::scpi
