// The three number conversions every field and command goes through.
// Input: 8 bytes of a double's bits, one byte for the zero_padded width, then
// a text for leading_number.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "check.hpp"
#include "common/numbers.hpp"
#include "protocol/commands.hpp"

namespace {

using talmir880::fuzzing::all_digits;
using talmir880::fuzzing::check;
using talmir880::fuzzing::is_digit;
using talmir880::fuzzing::shown;

std::string g17(double x) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", x);
  return buf;
}

// The same reading done the plain way: drop the blanks, cut the longest
// prefix that is a number, hand it to strtod.
double reference_leading_number(std::string_view text) {
  std::string s;
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\n') s += c;
  }
  std::size_t i = 0;
  std::string number;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) number += s[i++];
  std::size_t digits = 0;
  bool point = false;
  for (; i < s.size(); ++i) {
    if (is_digit(s[i])) {
      number += s[i];
      ++digits;
    } else if (s[i] == '.' && !point) {
      number += '.';
      point = true;
    } else {
      break;
    }
  }
  if (digits == 0) return 0.0;
  if (i < s.size() && std::strchr("EeDd", s[i]) != nullptr && s[i] != '\0') {
    std::size_t j = i + 1;
    std::string exponent = "e";
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) exponent += s[j++];
    std::size_t k = j;
    while (k < s.size() && is_digit(s[k])) exponent += s[k++];
    if (k > j) number += exponent;
  }
  return std::strtod(number.c_str(), nullptr);
}

void check_leading_number(std::string_view text) {
  const double got = talmir880::leading_number(text);
  check(!std::isnan(got), "leading_number gave NaN", shown(text));
  const double want = reference_leading_number(text);
  check(got == want, "leading_number differs from a plain strtod reading",
        shown(text) + " gave " + g17(got) + ", expected " + g17(want));
}

// Shape of number_text: sign column, then a plain decimal or d.dddE+XX.
void check_number_text(double x) {
  const std::string s = talmir880::number_text(x);
  const std::string what = "number_text(" + g17(x) + ") = " + shown(s);
  check(!s.empty() && (s[0] == ' ' || s[0] == '-'), "number_text does not start with ' ' or '-'",
        what);
  if (!std::isfinite(x)) return;
  check((s[0] == '-') == (x < 0), "number_text sign column does not follow the sign", what);

  const std::string body = s.substr(1);
  const std::size_t e_at = body.find('E');
  const std::string mantissa = body.substr(0, e_at);
  const std::size_t point = mantissa.find('.');
  const std::string int_part = mantissa.substr(0, point);
  const std::string frac_part = point == std::string::npos ? "" : mantissa.substr(point + 1);
  check(all_digits(int_part) && all_digits(frac_part), "number_text mantissa is not a decimal",
        what);
  check(!int_part.empty() || !frac_part.empty(), "number_text has no digits", what);
  if (point != std::string::npos) {
    check(!frac_part.empty() && frac_part.back() != '0',
          "number_text has a trailing point or trailing zeros", what);
  }
  const std::string all = int_part + frac_part;
  const std::size_t first_sig = all.find_first_not_of('0');
  if (first_sig != std::string::npos) {
    std::string sig = all.substr(first_sig);
    if (point == std::string::npos) sig.erase(sig.find_last_not_of('0') + 1);
    check(sig.size() <= 15, "number_text shows more than 15 significant digits", what);
  }

  if (e_at == std::string::npos) {
    check(int_part != "0" || frac_part.empty(), "number_text writes a zero before the point", what);
    check(int_part.size() <= 1 || int_part[0] != '0', "number_text has a leading zero", what);
    const double m = std::fabs(x);
    check(m == 0 || (m >= 0.99995e-4 && m < 1e15), "number_text writes a fixed form out of range",
          what);
  } else {
    const std::string exponent = body.substr(e_at + 1);
    check(int_part.size() == 1 && int_part[0] != '0', "number_text exponent form mantissa", what);
    check(exponent.size() >= 3 && (exponent[0] == '+' || exponent[0] == '-') &&
              all_digits(exponent.substr(1)),
          "number_text exponent is not E+dd or E-dd", what);
    const int e = std::atoi(exponent.c_str());
    check(e >= 15 || e < -4, "number_text uses the exponent form inside the fixed range", what);
  }

  const double back = talmir880::leading_number(s);
  // Told apart from a plain loss of precision: the last magnitudes below the
  // largest double round up past it at 15 digits.
  check(std::isfinite(back), "number_text of a finite value reads back as infinity",
        what + " read back as " + g17(back));
  check(std::fabs(back - x) <= 1e-14 * std::fabs(x),
        "leading_number(number_text(x)) is not within 1e-14 of x",
        what + " read back as " + g17(back));
}

void check_zero_padded(double x, int n) {
  if (!std::isfinite(x)) return;
  const double t = std::trunc(x);
  const double rounded = std::fabs(x - t) >= 0.5 ? t + std::copysign(1.0, x) : t;
  const std::string s = talmir880::protocol::zero_padded(x, n);
  const std::string what = "zero_padded(" + g17(x) + ", " + std::to_string(n) + ") = " + shown(s);
  const bool negative = rounded < 0;
  check(!s.empty() && (s[0] == '-') == negative,
        "zero_padded sign does not follow the rounded value", what);
  const std::string digits = negative ? s.substr(1) : s;
  check(!digits.empty() && all_digits(digits), "zero_padded writes more than digits", what);
  check(static_cast<int>(digits.size()) >= n, "zero_padded is shorter than its width", what);
  if (static_cast<int>(digits.size()) > n) {
    check(digits[0] != '0' || digits == "0", "zero_padded fills past its width", what);
  }
  const double value = std::strtod(digits.c_str(), nullptr);
  check(value == std::fabs(rounded), "zero_padded is not the value rounded half away from zero",
        what + ", expected magnitude " + g17(std::fabs(rounded)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  unsigned char bits[8] = {};
  std::memcpy(bits, data, size < 8 ? size : 8);
  double x = 0;
  std::memcpy(&x, bits, sizeof x);
  const int width = size > 8 ? data[8] % 24 : 10;
  const std::string_view text(reinterpret_cast<const char*>(data) + (size > 9 ? 9 : size),
                              size > 9 ? size - 9 : 0);

  check_number_text(x);
  check_zero_padded(x, width);

  // The text's own value gives decimal-looking doubles the raw bits rarely hit.
  check_leading_number(text);
  const double y = talmir880::leading_number(text);
  check_number_text(y);
  check_zero_padded(y, width);
  return 0;
}
