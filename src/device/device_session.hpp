#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <utility>

#include "device/deferred.hpp"
#include "device/device_faults.hpp"
#include "device/link.hpp"
#include "device/shared_line.hpp"
#include "link/countdown.hpp"
#include "link/serial_port.hpp"

namespace talmir880 {

// How long a sweep pass may go without a single report before it is given
// up. A point's report takes 133 ms on the line even at 300 baud; a pass
// silent for this long has lost its device, and *OPC? must not wait on it
// for ever.
inline constexpr std::chrono::milliseconds kSweepStallTimeout{2000};

// How long after a failed open the port is left alone: finding a port by
// number means scanning the system's serial devices, too dear to do for
// every command while the device is away.
inline constexpr std::chrono::milliseconds kReopenInterval{1000};

// How long the line must stay quiet after a pass's last report before the
// pass counts as over: 5 characters, but never under 20 ms, since USB
// adapters hand characters over in batches 16 ms apart. Until then a report
// that noise pushed ahead could still be followed by the device's own.
std::chrono::milliseconds pass_quiet_time(int baud);

// The remote user's side of the line to the device, one exchange at a time:
// a command waiting for its acknowledgement, or a sweep pass counting the
// device's reports. The port is opened when a command needs it and closed
// after a read or write fault, so the next command opens it afresh: a device
// unplugged and plugged in again needs no restart. A port that would not
// open, or was lost, is tried again at most once per kReopenInterval.
// CommPort and Settings are the owner's, set on the port before; the port
// keeps them across closing.
//
// It keeps the line's debts towards off: a switch-off owed to an output
// (the line's GeneratorState says which and why) goes ahead of any other
// command of this side, and by itself once the device can be reached when
// the owner asks for that (owed_off). A pass cut off by a lost link goes on
// in the device: nothing is written until it must have ended at the line's
// rate.
//
// It owns the Link, takes the port's events itself, and is told by its
// owner when a countdown runs out: the watchdog (kAcknowledgeTimeout), the
// stall (kSweepStallTimeout), the quiet time after a pass
// (pass_quiet_time) and the pause before the port is tried again
// (kReopenInterval).
// The outputs whose switch-off went ahead of a command.
struct OffsTried {
  bool rf = false;
  bool modulation = false;
};

// What the session tells its owner, once the call that caused it has
// returned; each does nothing unless overridden.
class SessionEvents {
 public:
  virtual ~SessionEvents() = default;
  // The pass has ended, and how.
  virtual void pass_ended(DeviceFault) {}
  // The late reply came: the device took the command that timed out.
  virtual void late_acknowledged() {}
  // The session has become idle after waiting for a late reply or for a
  // pass it could not see, or the port may be tried again.
  virtual void settled() {}
  // The device went away while nothing was waiting on it (device_gone or
  // link_lost).
  virtual void port_lost(DeviceFault) {}
  // The device could be reached and now cannot (with why), or the other
  // way round (DeviceFault::none, once it answered: an R, or a report of
  // a pass): for a log, once per change.
  virtual void reachability_changed(DeviceFault) {}
};

class DeviceSession : private LinkEvents, private LineUser {
 public:
  struct Countdowns {
    Countdown& watchdog;
    Countdown& stall;
    Countdown& quiet;
    Countdown& reopen;
  };

  DeviceSession(SharedLine& line, Countdowns countdowns, SessionEvents& events);
  ~DeviceSession() override;
  DeviceSession(const DeviceSession&) = delete;
  DeviceSession& operator=(const DeviceSession&) = delete;

  // Writes a command and waits for its acknowledgement; done() hears how it
  // ended. When nothing could be written the fault is returned and done()
  // is never called. Only while idle().
  DeviceFault send(std::string_view command, std::function<void(DeviceFault)> done);
  // Writes a sweep command; the pass runs until the device has reported
  // every point, and SessionEvents::pass_ended hears how it ended. Only while idle().
  DeviceFault start_pass(std::string_view command);
  // Opens the port if it is not open: none, or why it cannot be.
  DeviceFault reach();

  bool exchanging() const { return done_ != nullptr; }
  bool pass_running() const { return pass_running_; }
  // After a command went unanswered the line waits a watchdog's time more
  // for its late R, which then counts for it alone: a slow device must not
  // seem to acknowledge each command with the R of the one before.
  bool waiting_for_late_reply() const { return late_; }
  // A pass the link lost may still run in the device.
  bool pass_unseen() const { return unseen_left_.count() > 0; }
  // Nothing of ours on the line, and how the last of it ended told.
  bool idle() const {
    return !exchanging() && ended_ == nullptr && !pass_end_untold_ && !pass_running() && !late_ &&
           !pass_unseen();
  }

  // The output whose switch-off the line owes the device next, if this
  // side may write it now: ahead of a command of its own always (but for
  // outputs already `tried` ahead of it, so that a device that does not
  // answer still gets the command); by itself (`alone`) after its own
  // switch-off went unanswered, and when the port was reached or the
  // device came back if switch_off_when_reached() says so.
  std::optional<Fact> owed_off(bool alone, OffsTried tried = {}) const;
  void switch_off_when_reached(bool on) { off_when_reached_ = on; }
  // The line's rate, for the time a pass takes.
  void set_baud(int baud) { baud_ = baud; }

  // Whether a command may be written now: the line may have another user.
  bool line_free() const { return line_.free_for_remote(); }

  void watchdog_ran_out() { link_.watchdog_ran_out(); }
  void stall_ran_out();
  void quiet_ran_out();
  void reopen_ran_out();

 private:
  // The events hear it once the call that caused it returns.
  template <typename Call>
  void tell(Call call);
  // Opens the port if need be, empties the received text and writes.
  DeviceFault put(std::string_view command);
  void close_port();
  void finish(DeviceFault fault);
  void end_pass(DeviceFault fault);
  void note_reachable(DeviceFault fault);
  void end_late_wait();
  // The port failed while open: closed, and left alone for a while.
  void lost(DeviceFault fault);
  // Our pass as the line counts it; none when the line has no pass of ours.
  const Pass* our_pass() const;

  void acknowledged() override;
  void received() override;
  void not_acknowledged() override;
  void read_failed(const PortError& fault) override;
  void write_failed(const PortError& fault) override;
  void replied(const LineReply& reply) override { link_.replied(reply); }

  SharedLine& line_;
  SerialPort& port_;
  Countdowns countdowns_;
  SessionEvents& events_;
  Link link_;
  std::function<void(DeviceFault)> done_;
  // The done callback of the exchange that ended, until it is told: one at
  // most, as a new exchange waits for it.
  std::function<void(DeviceFault)> ended_;
  // The end of our pass is still to be told.
  bool pass_end_untold_ = false;
  // Why the last open failed, told again until the reopen pause is over.
  DeviceFault open_fault_ = DeviceFault::none;
  // How the open port was lost, for the write that found it so.
  DeviceFault lost_fault_ = DeviceFault::device_gone;
  // Unknown until the first try.
  bool reachable_known_ = false;
  bool reachable_ = false;
  bool pass_running_ = false;
  bool late_ = false;
  int baud_;
  std::chrono::milliseconds unseen_left_{0};
  bool off_when_reached_ = false;
};

template <typename Call>
void DeviceSession::tell(Call call) {
  Deferred::here().tell(this, events_, call);
}

}  // namespace talmir880
