#pragma once

#include <functional>
#include <string>

#include "link/countdown.hpp"
#include "link/serial_port.hpp"
#include "scpi/command_tree.hpp"
#include "scpi/device_session.hpp"
#include "scpi/parser.hpp"
#include "scpi/status.hpp"

namespace talmir880::scpi {

// What the device has acknowledged, and the values kept for later (a
// frequency set while the output is off, the sweep's fields). Starts at the
// panel's start-up values, which the device is assumed to hold.
struct Settings {
  double frequency_hz = 100e6;  // a whole number of 10 Hz: the device's resolution
  bool output_on = true;
  double lf_frequency_hz = 1e3;
  bool modulation_on = true;
  int power_dbm = -3;
  double start_hz = 100e6;
  double stop_hz = 500e6;
  int points = 500;
  bool sweep_mode = false;  // CW otherwise
};

// What the device's fields can carry: nine digits of 10 Hz for the RF,
// seven of 1 Hz for the modulation, and the documented sweep points. An RF
// of one 10 Hz unit is the RF-off command itself, so the lowest frequency
// that keeps the output on is two units.
inline constexpr double kMinFrequencyHz = 10;
inline constexpr double kMinCwFrequencyHz = 20;
inline constexpr double kMaxFrequencyHz = 9.99999999e9;
inline constexpr double kMinLfFrequencyHz = 1;
inline constexpr double kMaxLfFrequencyHz = 9999999;
inline constexpr int kMinPoints = 5;
inline constexpr int kMaxPoints = 9999;
// The sweep's step field: eight digits of 10 Hz.
inline constexpr double kMaxSweepStepHz = 999999990;

// How far a unit got.
enum class Step {
  done,  // finished
  sent,  // a device command is on the wire; changed() tells when it is over
  held,  // run it again once the running sweep pass has ended
};

// The command set: what each command does to the settings, the device and
// the status registers. Device commands go one at a time and never during
// a sweep pass (they are held); a query answers from the settings, which
// change only when the device has acknowledged.
//
// Sweeps: INIT starts a pass that runs in the background. With INIT:CONT ON
// another pass follows each one; the owner starts it with start_next_pass()
// when next_pass_due(), after the line that waited for the pass to end.
// ABORt ends the repetition; the pass on the device runs to its end.
class Generator {
 public:
  Generator(SerialPort& port, Countdown& watchdog, Countdown& stall, Status& status);

  // Runs one unit, adding any answer to the line's answers. Throws Refused.
  Step run(Command command, const ProgramUnit& unit, std::string& answers);

  bool exchanging() const { return session_.exchanging(); }
  bool pass_running() const { return session_.pass_running(); }
  bool next_pass_due() const { return initiated_ && session_.idle(); }
  void start_next_pass();

  void watchdog_ran_out() { session_.watchdog_ran_out(); }
  void stall_ran_out() { session_.stall_ran_out(); }

  // A device command or a sweep pass has ended.
  std::function<void()> changed;

  const Settings& settings() const { return settings_; }

 private:
  Step run_signal(Command command, const ProgramUnit& unit, std::string& answers);
  Step run_sweep(Command command, const ProgramUnit& unit, std::string& answers);
  // The IEEE 488.2 common commands and SYSTem.
  Step run_common(Command command, const ProgramUnit& unit, std::string& answers);
  // Sends a command; taken() runs once the device has acknowledged it.
  Step device(const std::string& command, std::function<void()> taken);
  Step start_pass();
  void pass_ended(DeviceFault fault);
  void report(DeviceFault fault);

  Status& status_;
  DeviceSession session_;
  Settings settings_;
  bool continuous_ = false;
  // A sweep is under way: a pass runs, or another is due.
  bool initiated_ = false;
  // *OPC waits for the running pass.
  bool opc_pending_ = false;
};

// Adds one answer to a line's answers, which are joined by ';'.
void add_answer(std::string& answers, const std::string& answer);

}  // namespace talmir880::scpi
