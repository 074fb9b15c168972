#include "scpi/generator.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "protocol/commands.hpp"
#include "scpi/parameters.hpp"

namespace talmir880::scpi {
namespace {

double frequency(const ProgramUnit& unit, double min, double max) {
  expect_parameters(unit, 1);
  const double hz = number(unit.parameters.front(), Quantity::frequency, min, max);
  if (!(hz >= min && hz <= max)) throw Refused{kDataOutOfRange};
  return std::round(hz);
}

bool on_off(const ProgramUnit& unit) {
  expect_parameters(unit, 1);
  return boolean(unit.parameters.front());
}

std::string flag(bool on) { return on ? "1" : "0"; }

// The RF frequency the device runs at for a requested one: the $F field
// drops the 1-Hz digit.
double rf_resolution(double hz) { return std::floor(hz / 10) * 10; }

}  // namespace

void add_answer(std::string& answers, const std::string& answer) {
  if (!answers.empty()) answers += ';';
  answers += answer;
}

Generator::Generator(SerialPort& port, Countdown& watchdog, Countdown& stall, Status& status)
    : status_(status), session_(port, watchdog, stall) {
  session_.pass_ended = [this](DeviceFault fault) { pass_ended(fault); };
  session_.port_lost = [this] { report(DeviceFault::missing); };
}

Step Generator::run(Command command, const ProgramUnit& unit, std::string& answers) {
  switch (command) {
    case Command::frequency_start:
    case Command::frequency_stop:
    case Command::frequency_mode:
    case Command::sweep_points:
    case Command::initiate:
    case Command::continuous:
    case Command::abort:
      return run_sweep(command, unit, answers);
    case Command::frequency:
    case Command::power:
    case Command::lf_frequency:
    case Command::output:
    case Command::modulation:
      return run_signal(command, unit, answers);
    default:
      return run_common(command, unit, answers);
  }
}

Step Generator::run_signal(Command command, const ProgramUnit& unit, std::string& answers) {
  Settings& s = settings_;
  if (unit.query) {
    switch (command) {
      case Command::frequency:
        add_answer(
            answers,
            whole(asked_limit(unit, kMinCwFrequencyHz, kMaxFrequencyHz).value_or(s.frequency_hz)));
        break;
      case Command::power:
        add_answer(answers, whole(asked_limit(unit, protocol::kLevelsDbm.back(),
                                              protocol::kLevelsDbm.front())
                                      .value_or(s.power_dbm)));
        break;
      case Command::lf_frequency:
        add_answer(answers, whole(asked_limit(unit, kMinLfFrequencyHz, kMaxLfFrequencyHz)
                                      .value_or(s.lf_frequency_hz)));
        break;
      default:
        expect_parameters(unit, 0);
        if (command == Command::output) add_answer(answers, flag(s.output_on));
        if (command == Command::modulation) add_answer(answers, flag(s.modulation_on));
    }
    return Step::done;
  }
  switch (command) {
    case Command::frequency: {
      const double hz = frequency(unit, kMinCwFrequencyHz, kMaxFrequencyHz);
      const double taken = rf_resolution(hz);
      // Kept for later while the device is off or sweeping.
      if (!s.output_on || s.sweep_mode) {
        s.frequency_hz = taken;
        return Step::done;
      }
      return device(protocol::rf_frequency(hz), [&s, taken] { s.frequency_hz = taken; });
    }
    case Command::power: {
      expect_parameters(unit, 1);
      const auto& levels = protocol::kLevelsDbm;
      const double dbm =
          number(unit.parameters.front(), Quantity::level, levels.back(), levels.front());
      if (std::find(levels.begin(), levels.end(), dbm) == levels.end()) {
        throw Refused{kIllegalParameterValue};
      }
      const int level = static_cast<int>(dbm);
      // Always sent: the server cannot know the device's level.
      return device(protocol::rf_level(level), [&s, level] { s.power_dbm = level; });
    }
    case Command::lf_frequency: {
      const double hz = frequency(unit, kMinLfFrequencyHz, kMaxLfFrequencyHz);
      if (!s.modulation_on) {
        s.lf_frequency_hz = hz;
        return Step::done;
      }
      return device(protocol::modulation_frequency(hz), [&s, hz] { s.lf_frequency_hz = hz; });
    }
    case Command::output: {
      const bool on = on_off(unit);
      return device(on ? protocol::rf_frequency(s.frequency_hz) : std::string(protocol::kRfOff),
                    [&s, on] { s.output_on = on; });
    }
    case Command::modulation: {
      const bool on = on_off(unit);
      return device(on ? protocol::modulation_frequency(s.lf_frequency_hz)
                       : std::string(protocol::kModulationOff),
                    [&s, on] { s.modulation_on = on; });
    }
    default:
      throw Refused{kUndefinedHeader};
  }
}

Step Generator::run_sweep(Command command, const ProgramUnit& unit, std::string& answers) {
  Settings& s = settings_;
  if (unit.query) {
    switch (command) {
      case Command::frequency_start:
        add_answer(answers,
                   whole(asked_limit(unit, kMinFrequencyHz, kMaxFrequencyHz).value_or(s.start_hz)));
        break;
      case Command::frequency_stop:
        add_answer(answers,
                   whole(asked_limit(unit, kMinFrequencyHz, kMaxFrequencyHz).value_or(s.stop_hz)));
        break;
      case Command::sweep_points:
        add_answer(answers, whole(asked_limit(unit, kMinPoints, kMaxPoints).value_or(s.points)));
        break;
      default:
        expect_parameters(unit, 0);
        if (command == Command::frequency_mode) add_answer(answers, s.sweep_mode ? "SWE" : "CW");
        if (command == Command::continuous) add_answer(answers, flag(continuous_));
    }
    return Step::done;
  }
  switch (command) {
    case Command::frequency_start:
      s.start_hz = frequency(unit, kMinFrequencyHz, kMaxFrequencyHz);
      break;
    case Command::frequency_stop:
      s.stop_hz = frequency(unit, kMinFrequencyHz, kMaxFrequencyHz);
      break;
    case Command::sweep_points: {
      expect_parameters(unit, 1);
      const double points =
          std::round(number(unit.parameters.front(), Quantity::count, kMinPoints, kMaxPoints));
      if (!(points >= kMinPoints && points <= kMaxPoints)) throw Refused{kDataOutOfRange};
      s.points = static_cast<int>(points);
      break;
    }
    case Command::frequency_mode:
      expect_parameters(unit, 1);
      s.sweep_mode = choice(unit.parameters.front(), {"CW", "FIXed", "SWEep"}) == 2;
      break;
    case Command::continuous:
      continuous_ = on_off(unit);
      break;
    case Command::initiate:
      expect_parameters(unit, 0);
      if (initiated_ || session_.pass_running()) throw Refused{kInitIgnored};
      return start_pass();
    case Command::abort:
      expect_parameters(unit, 0);
      initiated_ = false;
      break;
    default:
      throw Refused{kUndefinedHeader};
  }
  return Step::done;
}

Step Generator::start_pass() {
  const Settings& s = settings_;
  if (!s.sweep_mode || s.stop_hz <= s.start_hz) throw Refused{kSettingsConflict};
  const double step_hz = (s.stop_hz - s.start_hz) / s.points;
  // A wider step would push the points out of their place in the command.
  if (std::round(step_hz / 10) * 10 > kMaxSweepStepHz) throw Refused{kSettingsConflict};
  const std::string command = protocol::sweep(s.start_hz, step_hz, s.points);
  const DeviceFault fault = session_.start_pass(command, static_cast<std::size_t>(s.points));
  initiated_ = fault == DeviceFault::none;
  report(fault);
  return Step::done;
}

void Generator::start_next_pass() {
  // A mode changed to CW during the pass ends the sweep quietly.
  if (!settings_.sweep_mode) {
    initiated_ = false;
    return;
  }
  try {
    start_pass();
  } catch (const Refused& refused) {
    initiated_ = false;
    status_.report(refused.code);
  }
}

void Generator::pass_ended(DeviceFault fault) {
  report(fault);
  if (fault != DeviceFault::none || !continuous_) initiated_ = false;
  if (opc_pending_) {
    opc_pending_ = false;
    status_.operation_complete();
  }
  if (changed) changed();
}

Step Generator::device(const std::string& command, std::function<void()> taken) {
  if (session_.pass_running()) return Step::held;
  const DeviceFault fault =
      session_.send(command, [this, taken = std::move(taken)](DeviceFault result) {
        if (result == DeviceFault::none) taken();
        report(result);
        if (changed) changed();
      });
  report(fault);
  return fault == DeviceFault::none ? Step::sent : Step::done;
}

void Generator::report(DeviceFault fault) {
  switch (fault) {
    case DeviceFault::none:
      break;
    case DeviceFault::no_acknowledge:
      status_.report(kHardwareError, "no acknowledge");
      break;
    case DeviceFault::stalled:
      status_.report(kHardwareError, "sweep stalled");
      break;
    case DeviceFault::missing:
      status_.report(kHardwareMissing);
      break;
  }
}

}  // namespace talmir880::scpi
