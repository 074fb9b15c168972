#pragma once

// The TALMIR-880's command set. A command is "$", a letter and fixed-width
// decimal fields, written in one write with nothing after it; the device
// confirms one with a reply that holds an upper-case R. Every command text the
// programs send is made here, so the panel and the automation server put the
// same bytes on the line for the same values.

#include <array>
#include <cstddef>
#include <optional>
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
// The fewest points, as the panel's points field's tip asks (app/layout.hpp).
inline constexpr int kMinSweepPoints = 5;
inline constexpr int kMaxSweepPoints = 9999;
// How high the panel's STEP+ tunes: it refuses a step past these.
inline constexpr double kStepUpLimitRfHz = 5e9;
inline constexpr double kStepUpLimitModulationHz = 9e6;

// What the device is told to do at the panel's start-up, and what the
// automation server assumes it holds.
struct StartUp {
  double rf_hz = 100e6;
  double modulation_hz = 1e3;
  int level_dbm = -3;
  double sweep_start_hz = 100e6;
  double sweep_end_hz = 500e6;
  int sweep_points = 500;
  // FREQ UP and DOWN's step for scripts; the panel's list starts at its
  // largest.
  double step_hz = 1e6;
};
inline constexpr StartUp kStartUp{};

// The Settings of the nine speeds the device is used at, slowest first, as
// the panel's speed list offers them; always no parity, 8 data bits, 1 stop
// bit. Both programs start at the fastest.
inline constexpr std::array<std::string_view, 9> kSpeedSettings = {
    "300,n,8,1",  "600,n,8,1",   "1200,n,8,1",  "2400,n,8,1", "4800,n,8,1",
    "9600,n,8,1", "19200,n,8,1", "38400,n,8,1", "57600,n,8,1"};
inline constexpr std::string_view kStartUpSpeed = kSpeedSettings.back();
// The baud rate of a speed's Settings: "57600" of "57600,n,8,1".
constexpr std::string_view baud_of(std::string_view settings) {
  return settings.substr(0, settings.find(','));
}

// The tuning steps the panel offers, largest first; the largest is also the
// widest step a script may set for FREQ UP and DOWN.
inline constexpr std::array<double, 10> kTuningStepsHz = {1e9, 1e8, 1e7, 1e6, 1e5,
                                                          1e4, 1e3, 100, 10,  1};

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

// Whether a command is a sweep ("$W"), the one the device answers with its
// points rather than an R.
inline bool is_sweep(std::string_view command) { return command.substr(0, 2) == "$W"; }

// The digits of a sweep's fields: start, step per point, points.
inline constexpr std::array<int, 3> kSweepFieldDigits = {9, 8, 4};
// "$W", the start in 10 Hz units (at least 9 digits), the step per point in
// 10 Hz units (at least 8) and the number of points (at least 4), each
// rounded half away from zero and never cut; a negative step is written
// "-" and its digits. Throws std::domain_error for a value that is not finite.
std::string sweep(double start_hz, double step_hz, double points);
// The step per point that sweep() sends for step_hz: whole 10 Hz units,
// rounded half away from zero.
double sweep_step_sent(double step_hz);

// A reply acknowledges when it holds an upper-case R anywhere: where the
// first one stands, or npos.
inline constexpr char kAcknowledgement = 'R';
inline std::size_t acknowledgement_in(std::string_view received) {
  return received.find(kAcknowledgement);
}

// What the device sends for each completed sweep point; never an R.
inline constexpr std::size_t kCharsPerSweepPoint = 4;

// A command read back from its text: what the device does when it takes it.
struct Decoded {
  enum class Kind { rf, rf_off, modulation, modulation_off, level, save, sweep };
  Kind kind = Kind::rf;
  double hz = 0;                           // rf, modulation; the first point of a sweep
  double step_hz = 0;                      // sweep: per point, negative downwards
  int points = 0;                          // sweep
  int level_dbm = 0;                       // level
  SaveMode mode = SaveMode::single_point;  // save
};

// The inverse of the encoders above, for bytes that one of them made;
// nothing for any other text.
std::optional<Decoded> decode(std::string_view command);

}  // namespace talmir880::protocol
