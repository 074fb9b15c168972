#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace talmir880::scpi {

// One parameter as written: a decimal number with its suffix, a word
// (character data such as ON, MAX, SWE) or a quoted string.
struct Parameter {
  enum class Kind { number, word, text };
  Kind kind = Kind::number;
  double number = 0;
  // A word, upper-cased; a number's suffix, upper-cased, empty when none; a
  // string's text.
  std::string word;
};

// One program message unit: "FREQ:STAR 100 MHZ", "*OPC?", ":OUTP ON".
struct ProgramUnit {
  bool common = false;             // *XXX; its name is the one node
  bool rooted = false;             // a leading ':' starts at the root
  std::vector<std::string> nodes;  // upper-cased mnemonics
  bool query = false;
  std::vector<Parameter> parameters;
};

// The units of one input line, split at each ';' outside a quoted string;
// blank units are left out.
std::vector<std::string_view> split_units(std::string_view line);

// Reads one unit; throws Refused with a command error (-102 syntax, -104 a
// kind of data this instrument takes nowhere).
ProgramUnit parse_unit(std::string_view text);

// Whether an upper-case token is the short or the long form of a mnemonic
// written the SCPI way, short form in capitals: "FREQ" and "FREQUENCY" match
// "FREQuency", "FREQU" does not.
bool matches(std::string_view spelled, std::string_view token);

}  // namespace talmir880::scpi
