#pragma once

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "scpi/parser.hpp"

namespace talmir880::scpi {

// What a number's suffix may say.
enum class Quantity { count, frequency, level };

// Each reads a parameter as one kind of value and throws Refused when it is
// not: -104 for the wrong kind of data, -131 for a suffix that does not fit,
// -224 for a word that is not one of those allowed.

// Exactly n parameters: -109 when fewer, -108 when more.
void expect_parameters(const ProgramUnit& unit, std::size_t n);
// A number scaled by its suffix (HZ, KHZ, MHZ, GHZ; DBM; none for a count),
// or MINimum / MAXimum for the limits given. Not checked against them.
double number(const Parameter& p, Quantity quantity, double min, double max);
// ON, OFF, or a number: 0 is off, any other value rounds to on.
bool boolean(const Parameter& p);
// The index of the word, among those given in SCPI spelling ("SWEep").
std::size_t choice(const Parameter& p, std::initializer_list<std::string_view> words);
// A query's optional MINimum / MAXimum: the limit asked for, if any.
std::optional<double> asked_limit(const ProgramUnit& unit, double min, double max);

// A whole number as an answer: "100000000", "-3".
std::string whole(double value);

}  // namespace talmir880::scpi
