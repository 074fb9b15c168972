#pragma once

#include <string>
#include <string_view>

namespace talmir880 {

// The numeric value at the start of a text, read the way the panel has always
// read its fields: blanks anywhere are skipped, "." is the only decimal point,
// E or D introduce an exponent. Text that does not start with a number gives 0.
// A magnitude beyond the range of a double gives +-infinity, so callers can
// refuse it instead of sending garbage.
double leading_number(std::string_view text);

// A double as the window shows it: a blank or "-", then at most 15 significant
// digits, no trailing zeros, no leading zero before the point (".5").
// Magnitudes of 1E+15 and more or below 1E-04 are written in exponent form.
std::string number_text(double x);

}  // namespace talmir880
