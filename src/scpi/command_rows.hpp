#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/settings.hpp"

#include "scpi/command_table.hpp"
#include "scpi/parameters.hpp"

namespace talmir880::scpi {

using Set = void (*)(Call&);
using Ask = std::string (*)(Call&);

// One command: its header as SCPI writes it ("[SOURce]:FREQuency[:CW]"),
// its setting and query (none where it has no such form), and its parameter.
// A plain setting's row also has its description and the slot its value is
// kept in.
struct Row {
  std::string_view header;
  Set set;
  Ask ask;
  Accepts parameter;
  const protocol::Setting* setting = nullptr;
  std::size_t slot = 0;
};

// Every row, in the order they are matched.
std::span<const Row> rows();
// The rows of the plain settings of a description, made from it alone.
std::vector<Row> plain_rows(std::span<const protocol::Setting> settings);

}  // namespace talmir880::scpi
