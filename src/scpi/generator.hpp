#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "link/serial_port.hpp"
#include "protocol/commands.hpp"
#include "scpi/device_session.hpp"
#include "scpi/status.hpp"

namespace talmir880::scpi {

// What the queries answer. The device cannot be asked, so the output and
// the modulation count as off until a command switches them on; the other
// values are the panel's start-up ones.
struct Settings {
  double frequency_hz = protocol::kStartUp.rf_hz;  // a whole number of 10 Hz
  bool output_on = false;
  double lf_frequency_hz = protocol::kStartUp.modulation_hz;
  bool modulation_on = false;
  int power_dbm = protocol::kStartUp.level_dbm;
  double start_hz = protocol::kStartUp.sweep_start_hz;
  double stop_hz = protocol::kStartUp.sweep_end_hz;
  int points = protocol::kStartUp.sweep_points;
  bool sweep_mode = false;  // CW otherwise
  bool continuous = false;
  double step_hz = 1e6;  // FREQ UP and DOWN
};

// What the instrument takes. An RF of one 10 Hz unit is the RF-off command
// itself, so the lowest frequency that keeps the output on is two units;
// the sweep's start field has no such meaning.
inline constexpr double kMinFrequencyHz = protocol::kRfUnitHz;
inline constexpr double kMinCwFrequencyHz = 2 * protocol::kRfUnitHz;
inline constexpr double kMaxFrequencyHz = protocol::kMaxRfHz;
inline constexpr double kMinLfFrequencyHz = 1;
inline constexpr double kMaxLfFrequencyHz = protocol::kMaxModulationHz;
inline constexpr double kMinStepHz = protocol::kRfUnitHz;
inline constexpr double kMaxStepHz = 1e9;

// The "$W" command of a SCPI sweep: `points` points from start to stop,
// both included. Throws Refused{-221} when the step is 0 or wider than its
// field once rounded, or stop is not above start.
std::string sweep_command(const Settings& s);

// The generator as the device and the settings say, shared by every client.
//
// Everything that touches the device or the settings goes through one
// queue, in the order it was accepted, one device exchange at a time: a
// device command (sent, then acknowledged or not), a change kept without
// telling the device, and a sweep pass. A change applies at once to the
// settings that queries answer (the programmed values) and, in its turn
// and once the device acknowledged it, to the acknowledged ones. A command
// the device did not take returns the programmed values to the
// acknowledged ones with what is still queued applied again, and queues
// its error.
class Generator {
 public:
  using Change = std::function<void(Settings&)>;
  using Ticket = std::uint64_t;

  Generator(SerialPort& port, DeviceSession::Countdowns countdowns, Status& status);

  const Settings& settings() const { return programmed_; }
  Status& status() { return status_; }

  // Queues a device command and the change it makes.
  Ticket send(std::string command, Change change);
  // Queues a change the device is not told of.
  void keep(Change change);
  // Queues a sweep pass, or starts repeating them. Throws Refused.
  void initiate();
  // Ends the repetition; a pass not begun yet does not run.
  void abort();
  // Starts repeating passes when the settings ask for it.
  void repeat_if_continuous();
  // A pass runs or waits in the queue: device commands queued now wait
  // for it, and their lines need not.
  bool pass_queued() const;
  bool pass_running() const { return session_.pass_running(); }

  // The newest thing queued; 0 when nothing ever was.
  Ticket last() const { return next_ticket_ - 1; }
  bool done(Ticket ticket) const { return ticket <= done_through_; }
  // Runs `then` once everything up to the ticket is done (*OPC).
  void when_done(Ticket ticket, std::function<void()> then);

  // Opens the port if need be (*TST?); queues why it cannot be.
  bool reachable();
  // Nothing queued and nothing on the line.
  bool idle() const { return queue_.empty() && session_.idle(); }

  void watchdog_ran_out() { session_.watchdog_ran_out(); }
  void stall_ran_out() { session_.stall_ran_out(); }
  void quiet_ran_out() { session_.quiet_ran_out(); }
  void reopen_ran_out() { session_.reopen_ran_out(); }

  // Something queued has been done.
  std::function<void()> changed;
  // The device could be reached and now cannot, or the other way round.
  std::function<void(DeviceFault)> reachability_changed;

 private:
  struct Entry {
    enum class Kind { command, keep, pass };
    Ticket ticket;
    Kind kind;
    std::string command;
    Change change;
    bool cancelled = false;
  };

  Ticket enqueue(Entry::Kind kind, std::string command, Change change);
  // Works through the queue while the line is free.
  void advance();
  bool start_front();
  void command_ended(DeviceFault fault);
  void pass_ended(DeviceFault fault);
  void complete_front();
  void stop_repeating();
  void report(DeviceFault fault);

  Status& status_;
  DeviceSession session_;
  Settings programmed_;
  Settings acknowledged_;
  std::deque<Entry> queue_;
  Ticket next_ticket_ = 1;
  Ticket done_through_ = 0;
  std::vector<std::pair<Ticket, std::function<void()>>> waiting_;
  bool advancing_ = false;
};

}  // namespace talmir880::scpi
