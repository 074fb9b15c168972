#include "protocol/commands.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

namespace talmir880::protocol {

std::string zero_padded(double x, int n) {
  const double r = std::round(x);
  if (!std::isfinite(r)) throw std::domain_error("zero_padded: value out of range");
  char buf[400];  // the largest double has 309 digits
  const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(r), std::chars_format::fixed, 0);
  std::string digits(buf, res.ptr);
  if (static_cast<int>(digits.size()) < n) {
    digits.insert(0, static_cast<std::size_t>(n) - digits.size(), '0');
  }
  return r < 0 ? "-" + digits : digits;
}

std::string rf_frequency(double hz) {
  if (hz == 0) return std::string(kRfOff);
  return "$F" + zero_padded(hz, kRfHzDigits).substr(0, kRfHzDigits - 1);
}

std::string modulation_frequency(double hz) {
  if (hz == 0) return std::string(kModulationOff);
  return "$M" + zero_padded(hz, kModulationDigits);
}

std::string rf_level(int dbm) {
  const auto* at = std::find(kLevelsDbm.begin(), kLevelsDbm.end(), dbm);
  if (at == kLevelsDbm.end()) throw std::invalid_argument("no such RF level");
  // The digit counts 3 dB steps up from the lowest level.
  const auto steps_up = kLevelsDbm.end() - 1 - at;
  return std::string("$P") + static_cast<char>('0' + steps_up);
}

std::string save(SaveMode mode) { return mode == SaveMode::sweep ? "$S1" : "$S0"; }

std::string sweep(double start_hz, double step_hz, double points) {
  return "$W" + zero_padded(start_hz / 10, kSweepFieldDigits[0]) +
         zero_padded(step_hz / 10, kSweepFieldDigits[1]) +
         zero_padded(points, kSweepFieldDigits[2]);
}

double sweep_step_sent(double step_hz) { return std::round(step_hz / kRfUnitHz) * kRfUnitHz; }

namespace {

// A run of decimal digits, optionally behind a '-', as a whole number.
std::optional<double> whole(std::string_view digits) {
  const bool negative = !digits.empty() && digits.front() == '-';
  if (negative) digits.remove_prefix(1);
  if (digits.empty()) return std::nullopt;
  double value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return negative ? -value : value;
}

}  // namespace

std::optional<Decoded> decode(std::string_view command) {
  if (command.size() < 3 || command[0] != '$') return std::nullopt;
  const std::string_view fields = command.substr(2);
  Decoded d;
  switch (command[1]) {
    case 'F': {
      const auto units = whole(fields);
      if (!units || fields.size() != kRfHzDigits - 1 || *units < 0) return std::nullopt;
      if (command == kRfOff) {
        d.kind = Decoded::Kind::rf_off;
      } else {
        d.hz = *units * kRfUnitHz;
      }
      return d;
    }
    case 'M': {
      const auto hz = whole(fields);
      if (!hz || fields.size() < kModulationDigits || *hz < 0) return std::nullopt;
      d.kind = *hz == 0 ? Decoded::Kind::modulation_off : Decoded::Kind::modulation;
      d.hz = *hz;
      return d;
    }
    case 'P':
      if (fields.size() != 1 || fields[0] < '0' ||
          fields[0] >= '0' + static_cast<int>(kLevelsDbm.size())) {
        return std::nullopt;
      }
      d.kind = Decoded::Kind::level;
      d.level_dbm = kLevelsDbm[kLevelsDbm.size() - 1 - static_cast<std::size_t>(fields[0] - '0')];
      return d;
    case 'S':
      if (fields != "0" && fields != "1") return std::nullopt;
      d.kind = Decoded::Kind::save;
      d.mode = fields == "1" ? SaveMode::sweep : SaveMode::single_point;
      return d;
    case 'W': {
      // 9 digits of start, 8 of step (after a '-' when downwards), 4 of points.
      const std::size_t step_width = fields.size() > 9 && fields[9] == '-' ? 9 : 8;
      if (fields.size() != 9 + step_width + 4) return std::nullopt;
      const auto start = whole(fields.substr(0, 9));
      const auto step = whole(fields.substr(9, step_width));
      const auto points = whole(fields.substr(9 + step_width));
      if (!start || !step || !points || *start < 0 || *points < 0) return std::nullopt;
      d.kind = Decoded::Kind::sweep;
      d.hz = *start * kRfUnitHz;
      d.step_hz = *step * kRfUnitHz;
      d.points = static_cast<int>(*points);
      return d;
    }
    default:
      return std::nullopt;
  }
}

}  // namespace talmir880::protocol
