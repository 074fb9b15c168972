#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "scpi/parser.hpp"

namespace talmir880::scpi {

class Call;
struct Row;

// A row's header as a client writes it shortest: the short forms of the
// nodes that are not optional ("[SOURce]:FREQuency:STARt": "FREQ:STAR").
std::string short_header(std::string_view header);

// Finds the row a unit's header names, IEEE 488.2 style: a header with a
// leading ':' starts at the root, one without continues at the node the
// previous header's last written mnemonic hung from ("FREQ:STAR 1;STOP 2"),
// a common command leaves that place alone, and a new line starts at the
// root. Optional nodes may be left out anywhere.
class HeaderPath {
 public:
  // The header of the row a unit names, as the table spells it
  // ("[SOURce]:FREQuency:STARt"). Throws Refused{-113}.
  std::string_view resolve(const ProgramUnit& unit);
  // Runs one unit: finds its row, reads its parameter against the row's kind
  // and limits, and calls the row's setting or query. Throws Refused: -113
  // for a header no row has, or a form the row does not have.
  void run(const ProgramUnit& unit, Call& call);

 private:
  const Row& find(const ProgramUnit& unit);

  // Short forms of the nodes a relative header starts below.
  std::vector<std::string> at_;
};

}  // namespace talmir880::scpi
