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
  return "$W" + zero_padded(start_hz / 10, 9) + zero_padded(step_hz / 10, 8) +
         zero_padded(points, 4);
}

}  // namespace talmir880::protocol
