#pragma once

// The TALMIR-880's command set. A command is "$", a letter and fixed-width
// decimal fields, written in one write with nothing after it; the device
// confirms one with a reply that holds an upper-case R. Every command text the
// programs send is made here, so the panel and the automation server put the
// same bytes on the line for the same values.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace talmir880::protocol {

// What the device's fields carry, for everyone who checks a value before
// it is sent. The RF in Hz has ten digits below 10 GHz, of which the "$F"
// field carries the first nine (10 Hz units); "$M" carries seven digits of
// 1 Hz; "$W" a step of eight digits of 10 Hz and at most 9999 points.
inline constexpr int kRfHzDigits = 10;
inline constexpr double kRfUnitHz = 10;
inline constexpr double kMaxRfHz = 9'999'999'990;
inline constexpr int kModulationDigits = 7;
inline constexpr double kMaxModulationHz = 9'999'999;
inline constexpr double kMaxSweepStepHz = 999'999'990;
inline constexpr int kMinSweepPoints = 5;
inline constexpr int kMaxSweepPoints = 9999;

// What the device is told to do at the panel's start-up, and what the
// automation server assumes it holds.
struct StartUp {
  double rf_hz = 100e6;
  double modulation_hz = 1e3;
  int level_dbm = -3;
  double sweep_start_hz = 100e6;
  double sweep_end_hz = 500e6;
  int sweep_points = 500;
};
inline constexpr StartUp kStartUp{};

// x rounded half away from zero, zero-filled on the left to n digits and
// never cut; "-" in front of the filled digits when the rounded value is
// negative. Throws std::domain_error for a value with no such text
// (infinite or not a number).
std::string zero_padded(double x, int n);

// RF off, sent instead of a frequency of exactly 0.
inline constexpr std::string_view kRfOff = "$F000000001";
// Modulation off, sent instead of a frequency of exactly 0.
inline constexpr std::string_view kModulationOff = "$M0000000";

// "$F" and the first nine digits of the frequency zero-filled to ten: below
// 10 GHz the frequency in 10 Hz units with the 1-Hz digit dropped (not
// rounded). Always 11 characters. 0 Hz gives kRfOff.
std::string rf_frequency(double hz);

// "$M" and the frequency in Hz zero-filled to seven digits (ten characters
// from 10 MHz on). 0 Hz gives kModulationOff.
std::string modulation_frequency(double hz);

// The device's four output levels, in the order the panel lists them.
inline constexpr std::array<int, 4> kLevelsDbm = {-3, -6, -9, -12};
// "$P3" for -3 dBm, "$P2" for -6, "$P1" for -9, "$P0" for -12. Throws
// std::invalid_argument for any other level.
std::string rf_level(int dbm);

// The mode the device starts in after a save.
enum class SaveMode { single_point, sweep };
// "$S0" or "$S1".
std::string save(SaveMode mode);

// "$W", the start in 10 Hz units (at least 9 digits), the step per point in
// 10 Hz units (at least 8) and the number of points (at least 4), each
// rounded half away from zero and never cut; a negative step is written
// "-" and its digits. Throws std::domain_error for a value that is not finite.
std::string sweep(double start_hz, double step_hz, double points);

// A reply acknowledges when it holds an upper-case R anywhere.
inline bool acknowledges(std::string_view received) {
  return received.find('R') != std::string_view::npos;
}

// What the device sends for each completed sweep point; never an R.
inline constexpr std::size_t kCharsPerSweepPoint = 4;

}  // namespace talmir880::protocol
