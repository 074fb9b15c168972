#pragma once

// What fuzz_scpi knows of the texts on either side of the instrument,
// written out here rather than taken from the core, so that the core is not
// its own judge: the device's command forms, the queries whose answers it
// checks, the error entries, and which client lines could possibly change a
// setting.

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"

namespace talmir880::fuzzing::scpi_text {

inline bool starts_with(std::string_view text, std::string_view head) {
  return text.substr(0, head.size()) == head;
}

// The device's command forms.
inline bool device_command(std::string_view w) {
  if (starts_with(w, "$F")) return w.size() == 11 && all_digits(w.substr(2));
  if (starts_with(w, "$M")) return w.size() >= 9 && all_digits(w.substr(2));
  if (starts_with(w, "$P")) return w.size() == 3 && w[2] >= '0' && w[2] <= '3';
  if (starts_with(w, "$S")) return w == "$S0" || w == "$S1";
  if (starts_with(w, "$W")) {
    w.remove_prefix(2);
    if (w.size() == 21) return all_digits(w);
    return w.size() == 22 && all_digits(w.substr(0, 9)) && w[9] == '-' && all_digits(w.substr(10));
  }
  return false;
}

inline constexpr std::string_view kRfOff = "$F000000001";
inline constexpr std::string_view kModulationOff = "$M0000000";

// An RF frequency other than the one that means off.
inline bool rf_on(std::string_view w) { return starts_with(w, "$F") && w != kRfOff; }
inline bool modulation_on(std::string_view w) {
  return starts_with(w, "$M") && w != kModulationOff;
}

// The points a sweep command asks for: its last four digits.
inline std::size_t sweep_points(std::string_view w) {
  return std::stoul(std::string(w.substr(w.size() - 4)));
}

inline char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

inline std::string upper(std::string text) {
  for (char& c : text) c = upper(c);
  return text;
}

// Whether the text holds the upper-case word in any case.
inline bool mentions(std::string_view text, std::string_view word) {
  for (std::size_t at = 0; at + word.size() <= text.size(); ++at) {
    std::size_t i = 0;
    while (i < word.size() && upper(text[at + i]) == word[i]) ++i;
    if (i == word.size()) return true;
  }
  return false;
}

// Which settings a line could change, over-approximated by what it must
// spell out. Relative headers reach no further than their own line, and no
// header may leave out OUTPut, MODulation, POWer or STEP, so a
// line that changes one of these settings holds the word; a boolean that
// says on is ON or a number with a digit other than 0.
struct Reach {
  bool output_on = false;      // could say OUTP[:STAT] ON
  bool modulation_on = false;  // could say OUTP:MOD[:STAT] ON
  bool output = false;         // could change OUTP? at all (ON, OFF, *RST)
  bool modulation = false;
  bool power = false;
  bool step = false;  // FREQ:STEP, *RST
  bool pass = false;  // could queue a sweep pass: INIT, FREQ:MODE
};

inline Reach reach_of(std::string_view line) {
  Reach r;
  const bool rst = mentions(line, "RST");
  const bool outp = mentions(line, "OUTP");
  const bool mod = outp && mentions(line, "MOD");
  bool says_on = mentions(line, "ON");
  for (char c : line) says_on = says_on || (c >= '1' && c <= '9');
  r.output_on = outp && says_on;
  r.modulation_on = mod && says_on;
  r.output = outp || rst;
  r.modulation = mod || rst;
  r.power = mentions(line, "POW") || rst;
  r.step = mentions(line, "STEP") || rst;
  r.pass = mentions(line, "INIT") || mentions(line, "MODE");
  return r;
}

inline std::string trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return "";
  const std::size_t last = text.find_last_not_of(" \t");
  return std::string(text.substr(first, last - first + 1));
}

// Every way to write a header: each node short or long, optional ones also
// left out.
struct Mnemonic {
  std::string_view short_form, long_form;
  bool optional;
};
inline std::set<std::string> spellings(const std::vector<Mnemonic>& nodes) {
  std::set<std::string> out{""};
  for (const Mnemonic& m : nodes) {
    std::set<std::string> next;
    for (const std::string& head : out) {
      for (std::string_view form : {m.short_form, m.long_form}) {
        next.insert(head.empty() ? std::string(form) : head + ":" + std::string(form));
      }
      if (m.optional) next.insert(head);
    }
    out = std::move(next);
  }
  return out;
}

enum class Query {
  none,
  output,
  modulation,
  power,
  error,
  version,
  opc,
  tst,
  idn,
  ese,
  sre,
  stb,
  esr
};

// The query a line ends in, when the line's answer can only be that
// query's: no quotes (they would move the ';' cuts), no '?' before it, and
// a header that cannot lean on an earlier one. `alone` when it is the line's
// only unit.
inline Query last_query(std::string_view line, bool& alone) {
  alone = false;
  if (line.find_first_of("\"'") != std::string_view::npos) return Query::none;
  std::vector<std::string> units;
  std::size_t from = 0;
  for (;;) {
    const std::size_t cut = line.find(';', from);
    std::string unit = trimmed(line.substr(from, cut == std::string_view::npos ? cut : cut - from));
    if (!unit.empty()) units.push_back(upper(std::move(unit)));
    if (cut == std::string_view::npos) break;
    from = cut + 1;
  }
  if (units.empty()) return Query::none;
  for (std::size_t i = 0; i + 1 < units.size(); ++i) {
    if (units[i].find('?') != std::string::npos) return Query::none;
  }
  alone = units.size() == 1;
  std::string u = units.back();
  if (u.size() < 2 || u.back() != '?') return Query::none;
  u.pop_back();
  static const std::map<std::string, Query> common = {
      {"*OPC", Query::opc}, {"*TST", Query::tst}, {"*IDN", Query::idn}, {"*ESE", Query::ese},
      {"*SRE", Query::sre}, {"*STB", Query::stb}, {"*ESR", Query::esr}};
  if (u[0] == '*') {
    const auto at = common.find(u);
    return at == common.end() ? Query::none : at->second;
  }
  if (u[0] == ':') {
    u.erase(0, 1);
  } else if (!alone) {
    return Query::none;
  }
  static const std::set<std::string> output =
      spellings({{"OUTP", "OUTPUT", false}, {"STAT", "STATE", true}});
  static const std::set<std::string> modulation =
      spellings({{"OUTP", "OUTPUT", false}, {"MOD", "MODULATION", false}, {"STAT", "STATE", true}});
  static const std::set<std::string> power = spellings({{"SOUR", "SOURCE", true},
                                                        {"POW", "POWER", false},
                                                        {"LEV", "LEVEL", true},
                                                        {"IMM", "IMMEDIATE", true},
                                                        {"AMPL", "AMPLITUDE", true}});
  static const std::set<std::string> error =
      spellings({{"SYST", "SYSTEM", false}, {"ERR", "ERROR", false}, {"NEXT", "NEXT", true}});
  static const std::set<std::string> version =
      spellings({{"SYST", "SYSTEM", false}, {"VERS", "VERSION", false}});
  if (output.count(u)) return Query::output;
  if (modulation.count(u)) return Query::modulation;
  if (power.count(u)) return Query::power;
  if (error.count(u)) return Query::error;
  if (version.count(u)) return Query::version;
  return Query::none;
}

inline bool small_number(const std::string& text, int max) {
  if (text.empty() || text.size() > 3 || !all_digits(text)) return false;
  return std::stoi(text) <= max;
}

// An entry of the error queue as SYST:ERR? answers it: a number this
// instrument reports, a comma, a quoted text; 1 when it is none.
inline int error_code(const std::string& text) {
  static const std::set<int> known = {0,    -100, -102, -104, -108, -109, -113, -131,
                                      -213, -221, -222, -224, -240, -241, -350, -363};
  const std::size_t comma = text.find(',');
  if (comma == std::string::npos || comma == 0 || comma > 4) return 1;
  const std::string number = text.substr(0, comma);
  const std::string digits = number[0] == '-' ? number.substr(1) : number;
  if (digits.empty() || !all_digits(digits)) return 1;
  const std::string quoted = text.substr(comma + 1);
  if (quoted.size() < 2 || quoted.front() != '"' || quoted.back() != '"' ||
      quoted.find('"', 1) != quoted.size() - 1) {
    return 1;
  }
  const int code = std::stoi(number);
  return known.count(code) ? code : 1;
}

// The levels of "$P0" to "$P3" as POW? answers them.
inline constexpr std::string_view kLevels[] = {"-12", "-9", "-6", "-3"};

}  // namespace talmir880::fuzzing::scpi_text
