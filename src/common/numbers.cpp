#include "common/numbers.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <system_error>

namespace talmir880 {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Walks the text with blanks removed, one character at a time.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) { skip(); }
  bool done() const { return at_ >= text_.size(); }
  char peek() const { return done() ? '\0' : text_[at_]; }
  void next() {
    ++at_;
    skip();
  }

 private:
  void skip() {
    while (at_ < text_.size() && is_blank(text_[at_])) ++at_;
  }
  std::string_view text_;
  std::size_t at_ = 0;
};

// from_chars refuses magnitudes it cannot hold; tell overflow from underflow
// by the decimal position of the first significant digit.
double out_of_range(const std::string& mantissa, std::size_t int_digits, long exponent,
                    bool negative) {
  std::size_t first = mantissa.find_first_not_of('0');
  if (first == std::string::npos) return negative ? -0.0 : 0.0;
  long magnitude = static_cast<long>(int_digits) - static_cast<long>(first) - 1 + exponent;
  double value = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  return negative ? -value : value;
}

}  // namespace

double leading_number(std::string_view text) {
  Reader in(text);
  bool negative = false;
  if (in.peek() == '+' || in.peek() == '-') {
    negative = in.peek() == '-';
    in.next();
  }
  std::string mantissa;  // digits without the point
  std::size_t int_digits = 0;
  bool point = false;
  for (;; in.next()) {
    char c = in.peek();
    if (is_digit(c)) {
      mantissa += c;
      if (!point) ++int_digits;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (mantissa.empty()) return 0.0;

  long exponent = 0;
  char e = in.peek();
  if (e == 'E' || e == 'e' || e == 'D' || e == 'd') {
    in.next();
    bool exp_negative = false;
    if (in.peek() == '+' || in.peek() == '-') {
      exp_negative = in.peek() == '-';
      in.next();
    }
    // Saturate: anything past a million is out of range either way.
    for (; is_digit(in.peek()); in.next()) {
      if (exponent < 1000000) exponent = exponent * 10 + (in.peek() - '0');
    }
    if (exp_negative) exponent = -exponent;
  }

  // int.frac e exp, for from_chars, which knows no sign and no locale.
  const std::string_view digits(mantissa);
  std::string normal;
  normal.reserve(mantissa.size() + 16);
  normal.append(int_digits == 0 ? std::string_view("0") : digits.substr(0, int_digits));
  normal.push_back('.');
  normal.append(digits.substr(int_digits));
  normal.push_back('e');
  normal.append(std::to_string(exponent));

  double value = 0.0;
  auto [end, ec] = std::from_chars(normal.data(), normal.data() + normal.size(), value);
  (void)end;
  if (ec == std::errc::result_out_of_range) {
    return out_of_range(mantissa, int_digits, exponent, negative);
  }
  return negative ? -value : value;
}

std::string number_text(double x) {
  if (std::isnan(x)) return " NaN";
  std::string out = x < 0 ? "-" : " ";
  double m = std::fabs(x);
  if (std::isinf(m)) return out + "INF";
  if (m == 0.0) return out + "0";

  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, m, std::chars_format::scientific, 14);
  std::string sci(buf, res.ptr);  // d.dddddddddddddde+XX
  if (sci.find("e+308") != std::string::npos && !std::isfinite(leading_number(sci))) {
    // Rounded up past the largest double, the text would read back as
    // infinity: cut the digits instead.
    res = std::to_chars(buf, buf + sizeof buf, m, std::chars_format::scientific);
    sci.assign(buf, res.ptr);
    const std::size_t e = sci.find('e');
    sci = sci.substr(0, std::min<std::size_t>(e, 16)) + sci.substr(e);
  }
  std::size_t e_at = sci.find('e');
  std::string digits = sci.substr(0, 1) + sci.substr(2, e_at - 2);
  int exponent = std::stoi(sci.substr(e_at + 1));
  digits.erase(digits.find_last_not_of('0') + 1);

  if (exponent >= 15 || exponent < -4) {
    out += digits[0];
    if (digits.size() > 1) out += "." + digits.substr(1);
    out += exponent < 0 ? "E-" : "E+";
    std::string e = std::to_string(std::abs(exponent));
    if (e.size() < 2) e.insert(0, "0");
    return out + e;
  }
  if (exponent < 0) {
    return out + "." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
  }
  auto int_len = static_cast<std::size_t>(exponent) + 1;
  if (digits.size() <= int_len) return out + digits + std::string(int_len - digits.size(), '0');
  return out + digits.substr(0, int_len) + "." + digits.substr(int_len);
}

}  // namespace talmir880
