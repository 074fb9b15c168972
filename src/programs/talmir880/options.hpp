#pragma once

// The panel's own flags: `talmir880 [--listen [[HOST:]PORT]]`, parsed apart
// from main() so the accepted forms are tested without a window. Without
// --listen the panel serves nothing.

#include <optional>
#include <string>
#include <vector>

#include "net/allow_list.hpp"
#include "programs/common/command_line.hpp"

namespace talmir880::programs {

struct PanelOptions {
  bool listen = false;
  std::string host = "127.0.0.1";
  int tcp_port = kDefaultTcpPort;
  bool log_commands = false;
  bool help = false;

  // --allow, as the server's.
  std::vector<net::AddressRange> allow;
};
struct ParsedPanelOptions {
  std::optional<PanelOptions> options;
  std::string error;  // set when options is empty
};
// Arguments without the program name and those Qt took.
ParsedPanelOptions parse_panel_options(const std::vector<std::string>& args);
std::string panel_usage();

}  // namespace talmir880::programs
