#include "scpi/parameters.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>

#include "generator/status.hpp"
#include "protocol/commands.hpp"

namespace talmir880::scpi {
namespace {

struct Prefix {
  std::string_view text;
  double factor;
};
// In SCPI a leading M is milli, except in MHZ, which has always meant mega.
constexpr std::array<Prefix, 4> kFrequencyPrefixes = {
    {{"", 1}, {"K", 1e3}, {"M", 1e6}, {"G", 1e9}}};

// The parser has upper-cased the suffix.
bool names(std::string_view suffix, std::string_view unit) {
  return !unit.empty() && std::ranges::equal(suffix, unit, [](char a, char b) {
    return a == std::toupper(static_cast<unsigned char>(b));
  });
}

double scale(const Parameter& p, Quantity quantity, std::string_view unit) {
  if (p.word.empty()) return p.number;
  if (quantity == Quantity::frequency) {
    for (const Prefix& prefix : kFrequencyPrefixes) {
      if (p.word.starts_with(prefix.text) && names(p.word.substr(prefix.text.size()), unit)) {
        return p.number * prefix.factor;
      }
    }
  } else if (quantity == Quantity::level && names(p.word, unit)) {
    return p.number;
  }
  throw Refused{kInvalidSuffix};
}

}  // namespace

void expect_parameters(const ProgramUnit& unit, std::size_t n) {
  if (unit.parameters.size() < n) throw Refused{kMissingParameter};
  if (unit.parameters.size() > n) throw Refused{kParameterNotAllowed};
}

double number(const Parameter& p, Quantity quantity, std::string_view unit, double min,
              double max) {
  switch (p.kind) {
    case Parameter::Kind::number:
      return scale(p, quantity, unit);
    case Parameter::Kind::word:
      return choice(p, {"MINimum", "MAXimum"}) == 0 ? min : max;
    case Parameter::Kind::text:
      break;
  }
  throw Refused{kDataTypeError};
}

bool boolean(const Parameter& p) {
  switch (p.kind) {
    case Parameter::Kind::number:
      if (!p.word.empty()) throw Refused{kInvalidSuffix};
      return std::round(p.number) != 0;
    case Parameter::Kind::word:
      return choice(p, {"ON", "OFF"}) == 0;
    case Parameter::Kind::text:
      break;
  }
  throw Refused{kDataTypeError};
}

std::size_t choice(const Parameter& p, std::initializer_list<std::string_view> words) {
  if (p.kind != Parameter::Kind::word) throw Refused{kDataTypeError};
  std::size_t index = 0;
  for (std::string_view w : words) {
    if (matches(w, p.word)) return index;
    ++index;
  }
  throw Refused{kIllegalParameterValue};
}

std::optional<double> asked_limit(const ProgramUnit& unit, double min, double max) {
  if (unit.parameters.empty()) return std::nullopt;
  expect_parameters(unit, 1);
  return choice(unit.parameters.front(), {"MINimum", "MAXimum"}) == 0 ? min : max;
}

Value read_setting(const Accepts& kind, const ProgramUnit& unit) {
  Value v;
  if (kind.takes == Takes::nothing) {
    expect_parameters(unit, 0);
    return v;
  }
  expect_parameters(unit, 1);
  const Parameter& p = unit.parameters.front();
  switch (kind.takes) {
    case Takes::nothing:
      break;
    case Takes::frequency_or_step:
      if (p.kind == Parameter::Kind::word && (matches("UP", p.word) || matches("DOWN", p.word))) {
        v.step = matches("UP", p.word) ? 1 : -1;
        return v;
      }
      [[fallthrough]];
    case Takes::frequency: {
      const double hz = std::round(number(p, Quantity::frequency, kind.unit, kind.min, kind.max));
      if (!(hz >= kind.min && hz <= kind.max)) throw Refused{kDataOutOfRange};
      v.number = hz;
      break;
    }
    case Takes::level: {
      const double dbm = number(p, Quantity::level, kind.unit, kind.min, kind.max);
      if (std::find(kind.levels.begin(), kind.levels.end(), dbm) == kind.levels.end()) {
        throw Refused{kIllegalParameterValue};
      }
      v.number = dbm;
      break;
    }
    case Takes::count: {
      const double n = std::round(number(p, Quantity::count, kind.unit, kind.min, kind.max));
      if (!(n >= kind.min && n <= kind.max)) throw Refused{kDataOutOfRange};
      v.number = n;
      break;
    }
    case Takes::boolean:
      v.number = boolean(p) ? 1 : 0;
      break;
    case Takes::mode:
      v.number = static_cast<double>(choice(p, {"CW", "FIXed", "SWEep"}));
      break;
  }
  return v;
}

bool has_limits(const Accepts& kind) {
  return kind.takes == Takes::frequency || kind.takes == Takes::frequency_or_step ||
         kind.takes == Takes::level || kind.takes == Takes::count;
}

std::string_view name_of(Takes takes) {
  switch (takes) {
    case Takes::nothing:
      return "nothing";
    case Takes::frequency:
      return "frequency";
    case Takes::frequency_or_step:
      return "frequency_or_step";
    case Takes::level:
      return "level";
    case Takes::count:
      return "count";
    case Takes::boolean:
      return "boolean";
    case Takes::mode:
      return "mode";
  }
  return "?";
}

std::string whole(double value) { return std::to_string(std::llround(value)); }

}  // namespace talmir880::scpi
