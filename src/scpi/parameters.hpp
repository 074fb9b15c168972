#pragma once

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "scpi/parser.hpp"

namespace talmir880::scpi {

// What a row's parameter is; a query's MINimum/MAXimum answers the limits.
enum class Takes { nothing, frequency, frequency_or_step, level, count, boolean, mode };

struct Accepts {
  Takes takes = Takes::nothing;
  double min = 0;
  double max = 0;
  std::span<const int> levels{};  // a level: every one there is
  std::string_view unit{};        // its setting's: the suffix a number may have
};

// A row's parameter, read and checked before the row runs.
struct Value {
  double number = 0;  // a frequency in Hz, a level, a count, 0/1, a choice's index
  int step = 0;       // FREQ UP: +1, FREQ DOWN: -1
};

// What a number's suffix may say.
enum class Quantity { count, frequency, level };

// Each reads a parameter as one kind of value and throws Refused when it is
// not: -104 for the wrong kind of data, -131 for a suffix that does not fit,
// -224 for a word that is not one of those allowed.

// Exactly n parameters: -109 when fewer, -108 when more.
void expect_parameters(const ProgramUnit& unit, std::size_t n);
// A number scaled by its suffix, which is `unit` in any case (a frequency's
// also with K, M or G before it: KHZ, MHZ, GHZ), or MINimum / MAXimum for
// the limits given. Not checked against them.
double number(const Parameter& p, Quantity quantity, std::string_view unit, double min, double max);
// ON, OFF, or a number: 0 is off, any other value rounds to on.
bool boolean(const Parameter& p);
// The index of the word, among those given in SCPI spelling ("SWEep").
std::size_t choice(const Parameter& p, std::initializer_list<std::string_view> words);
// A query's optional MINimum / MAXimum: the limit asked for, if any.
std::optional<double> asked_limit(const ProgramUnit& unit, double min, double max);

// A setting's parameter read as the row's kind, within its limits: -222
// out of them, -224 for a level the device does not have.
Value read_setting(const Accepts& kind, const ProgramUnit& unit);
// Whether a query of the kind may ask for MINimum or MAXimum.
bool has_limits(const Accepts& kind);
// The kind as those who document the instrument name it ("frequency_or_step").
std::string_view name_of(Takes takes);

// A whole number as an answer: "100000000", "-3".
std::string whole(double value);

}  // namespace talmir880::scpi
