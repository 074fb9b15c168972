#pragma once

// Command-line flags of talmir880-sim. Parsing is kept apart from main() so the
// accepted forms and ranges are tested without starting a simulator.

#include <optional>
#include <string>
#include <vector>

#include "pacer.hpp"

namespace talmir880::sim {

struct Options {
  int port = 9;  // the port the panel selects at start-up
  PacerOptions pacer;
  std::optional<int> vanish_after;
  bool quiet = false;
  bool help = false;
};

struct ParsedOptions {
  std::optional<Options> options;
  std::string error;  // set when options is empty
};

// Arguments without the program name. Accepts "--flag value" and "--flag=value".
ParsedOptions parse_options(const std::vector<std::string>& args);

std::string usage();

}  // namespace talmir880::sim
