#include "programs/talmir880/options.hpp"

#include <string_view>

#include "programs/common/command_line.hpp"
#include "programs/common/option_table.hpp"

namespace talmir880::programs {
namespace {

using Value = std::optional<std::string_view>;
using Refusal = std::optional<std::string>;

Refusal take_listen(PanelOptions& out, Value given) {
  out.listen = true;
  if (!given) return std::nullopt;  // the default address
  std::string value(*given);
  // A port alone listens on this machine.
  if (value.find(':') == std::string::npos) value = "127.0.0.1:" + value;
  const std::optional<HostPort> address = parse_host_port(value);
  if (!address) return "--listen takes [HOST:]PORT (an IPv6 host in brackets), not " + value;
  out.host = address->host;
  out.tcp_port = address->port;
  return std::nullopt;
}

// The rows in the order --help gives them.
const std::vector<OptionRow<PanelOptions>>& panel_rows() {
  static const PanelOptions defaults;
  static const std::vector<OptionRow<PanelOptions>> rows = {
      {.flag = "--listen",
       .takes = Takes::optional_value,
       .take = take_listen,
       .argument = "[[HOST:]PORT]",
       .help = "also serve the generator as a SCPI instrument, the same as\n"
               "talmir880-scpi, over the port the panel opens (default\n"
               "{default}; a port alone listens on 127.0.0.1). What a\n"
               "script does shows on the panel, and what the hand does\n"
               "shows in its queries. Any address but this machine's own\n"
               "lets everyone who can reach it switch the RF output.",
       .default_value = net::address_text(defaults.host, defaults.tcp_port)},
      {.flag = "--allow",
       .takes = Takes::value,
       .take = [](PanelOptions& out,
                  Value value) { return add_allowed(std::string(*value), out.allow); },
       .argument = "ADDRESS[/PREFIX]",
       .help = "with --listen: who may connect besides this machine\n"
               "(repeatable; IPv4 or IPv6, a bare address is one host);\n"
               "anyone else is closed before a line is read"},
      {.flag = "--log-commands",
       .take = sets(&PanelOptions::log_commands, true),
       .help = "each command written to the device, one line on\n"
               "standard error: the time, who sent it (\"panel\" for the\n"
               "hand, a script's address and port) and the SCPI line"},
      {.label = "-h, --help"},
      {.flag = "--help", .take = sets(&PanelOptions::help, true)},
      {.flag = "-h", .take = sets(&PanelOptions::help, true)},
  };
  return rows;
}

}  // namespace

ParsedPanelOptions parse_panel_options(const std::vector<std::string>& args) {
  PanelOptions out;
  if (std::optional<std::string> error = parse_with(panel_rows(), args, out))
    return {std::nullopt, *error};
  if (!out.allow.empty() && !out.listen) return {std::nullopt, "--allow needs --listen"};
  return {out, {}};
}

std::string panel_usage() {
  return synopsis("talmir880", panel_rows(), {"[--listen [--allow]...]", "[--log-commands]"}) +
         "The TALMIR-880 control panel.\n"
         "\n" +
         help_text(panel_rows(), 26) +
         "\n"
         "A connection that sends an HTTP request or header line, as a web page can make a\n"
         "browser do, is closed at once and nothing it sent from that line on runs.\n";
}

}  // namespace talmir880::programs
