#pragma once

#include <span>
#include <string>
#include <string_view>

#include "scpi/command_table.hpp"
#include "scpi/parameters.hpp"

namespace talmir880::scpi {

using Set = void (*)(Call&);
using Ask = std::string (*)(Call&);

// One command: its header as SCPI writes it ("[SOURce]:FREQuency[:CW]"),
// its setting and query (none where it has no such form), and its parameter.
struct Row {
  std::string_view header;
  Set set;
  Ask ask;
  Accepts parameter;
};

// Every row, in the order they are matched.
std::span<const Row> rows();

}  // namespace talmir880::scpi
