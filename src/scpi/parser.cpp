#include "scpi/parser.hpp"

#include <charconv>
#include <cmath>
#include <limits>

#include "generator/status.hpp"

namespace talmir880::scpi {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_mnemonic_char(char c) { return is_alpha(c) || is_digit(c) || c == '_'; }
char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

[[noreturn]] void syntax_error() { throw Refused{kSyntaxError}; }

// Reads a unit from left to right.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}

  bool done() const { return at_ >= text_.size(); }
  char peek(std::size_t ahead = 0) const {
    return at_ + ahead < text_.size() ? text_[at_ + ahead] : '\0';
  }
  void skip_blanks() {
    while (!done() && is_blank(peek())) ++at_;
  }
  bool take(char c) {
    if (done() || peek() != c) return false;
    ++at_;
    return true;
  }
  // Letters first, then letters, digits and '_'; upper-cased.
  std::string mnemonic() {
    if (!is_alpha(peek())) syntax_error();
    std::string out;
    while (!done() && is_mnemonic_char(peek())) out += upper(text_[at_++]);
    return out;
  }
  Parameter parameter();

 private:
  Parameter number();
  Parameter quoted();

  std::string_view text_;
  std::size_t at_ = 0;
};

Parameter Cursor::parameter() {
  const char c = peek();
  if (is_digit(c) || c == '+' || c == '-' || c == '.') return number();
  if (c == '"' || c == '\'') return quoted();
  if (is_alpha(c)) return {Parameter::Kind::word, 0, mnemonic()};
  // Non-decimal numbers (#H1F) and blocks are IEEE 488.2 data this
  // instrument takes nowhere.
  if (c == '#') throw Refused{kDataTypeError};
  syntax_error();
}

Parameter Cursor::number() {
  bool negative = false;
  if (peek() == '+' || peek() == '-') negative = text_[at_++] == '-';
  const std::size_t mantissa = at_;
  // Where the value's first significant digit stands, for telling an
  // overflow from an underflow.
  int whole_digits = 0, leading_zeros = 0;
  bool significant = false, any_digit = false;
  while (is_digit(peek())) {
    significant = significant || peek() != '0';
    if (significant) ++whole_digits;
    any_digit = true;
    ++at_;
  }
  if (take('.')) {
    while (is_digit(peek())) {
      if (!significant && peek() == '0') ++leading_zeros;
      significant = significant || peek() != '0';
      any_digit = true;
      ++at_;
    }
  }
  if (!any_digit) syntax_error();
  long exponent = 0;
  const char e = upper(peek());
  const char after = peek(1);
  if (e == 'E' && (is_digit(after) || ((after == '+' || after == '-') && is_digit(peek(2))))) {
    ++at_;
    const bool down = peek() == '-';
    if (peek() == '+' || peek() == '-') ++at_;
    while (is_digit(peek())) {
      if (exponent < 100000) exponent = exponent * 10 + (peek() - '0');
      ++at_;
    }
    if (down) exponent = -exponent;
  }
  double value = 0;
  const char* first = text_.data() + mantissa;
  const char* last = text_.data() + at_;
  const auto [end, ec] = std::from_chars(first, last, value);
  if (ec == std::errc::result_out_of_range) {
    const long magnitude = (whole_digits > 0 ? whole_digits : -leading_zeros) + exponent;
    value = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (ec != std::errc() || end != last) {
    syntax_error();
  }
  Parameter p{Parameter::Kind::number, negative ? -value : value, {}};
  skip_blanks();
  if (is_alpha(peek())) {
    while (!done() && is_alpha(peek())) p.word += upper(text_[at_++]);
  }
  return p;
}

Parameter Cursor::quoted() {
  const char quote = text_[at_++];
  Parameter p{Parameter::Kind::text, 0, {}};
  for (;;) {
    if (done()) syntax_error();
    const char c = text_[at_++];
    if (c == quote) {
      if (!take(quote)) return p;  // a doubled quote stands for itself
    }
    p.word += c;
  }
}

}  // namespace

std::vector<std::string_view> split_units(std::string_view line) {
  std::vector<std::string_view> units;
  char quote = 0;
  std::size_t from = 0;
  auto keep = [&](std::size_t to) {
    const std::string_view unit = line.substr(from, to - from);
    if (unit.find_first_not_of(" \t") != std::string_view::npos) units.push_back(unit);
  };
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quote != 0) {
      if (c == quote) quote = 0;  // a doubled quote reopens at once
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == ';') {
      keep(i);
      from = i + 1;
    }
  }
  keep(line.size());
  return units;
}

ProgramUnit parse_unit(std::string_view text) {
  Cursor in(text);
  ProgramUnit unit;
  in.skip_blanks();
  if (in.take('*')) {
    unit.common = true;
    unit.nodes.push_back(in.mnemonic());
  } else {
    unit.rooted = in.take(':');
    unit.nodes.push_back(in.mnemonic());
    while (in.take(':')) unit.nodes.push_back(in.mnemonic());
  }
  unit.query = in.take('?');
  if (in.done()) return unit;
  // The header ends at a blank; anything else glued to it is malformed.
  if (!is_blank(in.peek())) syntax_error();
  in.skip_blanks();
  if (in.done()) return unit;
  for (;;) {
    unit.parameters.push_back(in.parameter());
    in.skip_blanks();
    if (in.done()) return unit;
    if (!in.take(',')) syntax_error();
    in.skip_blanks();
  }
}

bool matches(std::string_view spelled, std::string_view token) {
  std::size_t short_length = 0;
  while (short_length < spelled.size() &&
         !(spelled[short_length] >= 'a' && spelled[short_length] <= 'z')) {
    ++short_length;
  }
  if (token.size() != short_length && token.size() != spelled.size()) return false;
  for (std::size_t i = 0; i < token.size(); ++i) {
    if (upper(spelled[i]) != token[i]) return false;
  }
  return true;
}

}  // namespace talmir880::scpi
