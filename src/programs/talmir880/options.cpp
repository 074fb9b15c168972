#include "programs/talmir880/options.hpp"

#include <string_view>

#include "programs/common/command_line.hpp"

namespace talmir880::programs {

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
      if (std::optional<std::string> error = add_allowed(value, out.allow))
        return {std::nullopt, *error};
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
    const std::optional<HostPort> address = parse_host_port(value);
    if (!address) {
      return {std::nullopt, "--listen takes [HOST:]PORT (an IPv6 host in brackets), not " + value};
    }
    out.host = address->host;
    out.tcp_port = address->port;
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

}  // namespace talmir880::programs
