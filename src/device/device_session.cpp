// The session's port: reached, lost and tried again; the switch-offs it
// owes; what it tells its owner.
#include "device/device_session.hpp"

#include <algorithm>
#include <exception>
#include <utility>

#include "device/deferred.hpp"
#include "protocol/commands.hpp"

namespace talmir880 {

DeviceSession::DeviceSession(SharedLine& line, Countdowns countdowns, SessionEvents& events)
    : line_(line),
      port_(line.remote()),
      countdowns_(countdowns),
      events_(events),
      link_(port_, countdowns.watchdog, *this),
      baud_(parse_settings(protocol::kStartUpSpeed).baud) {
  line_.hear(Face::remote, this);
}

DeviceSession::~DeviceSession() {
  line_.hear(Face::remote, nullptr);
  Deferred::here().forget(this);
}

DeviceFault DeviceSession::reach() {
  if (port_.PortOpen()) return DeviceFault::none;
  if (countdowns_.reopen.running()) return open_fault_;
  try {
    port_.set_PortOpen(true);
    open_fault_ = port_.PortOpen() ? DeviceFault::none : DeviceFault::port_failed;
  } catch (const PortError& fault) {
    open_fault_ = open_fault(fault.cause());
  } catch (const std::exception&) {
    open_fault_ = DeviceFault::port_failed;
  }
  // A port another program owns costs nothing to ask again. An open port
  // is no device yet: a link may take the connection and drop it at once.
  if (open_fault_ != DeviceFault::none) {
    if (open_fault_ != DeviceFault::port_closed) countdowns_.reopen.start();
    note_reachable(open_fault_);
  }
  return open_fault_;
}

// Reopening and a pass the link lost both wait on the pause: a pass is
// counted down a pause at a time.
void DeviceSession::reopen_ran_out() {
  if (pass_unseen()) {
    unseen_left_ = std::max(unseen_left_ - kReopenInterval, std::chrono::milliseconds{0});
    if (pass_unseen()) countdowns_.reopen.start();
  }
  if (idle()) tell([](SessionEvents& e) { e.settled(); });
}

std::optional<Fact> DeviceSession::owed_off(bool alone, OffsTried tried) const {
  const GeneratorState& state = line_.state();
  for (const Fact output : {Fact::rf, Fact::modulation}) {
    const Owed& owed = state.owed(output);
    if (!owed || (output == Fact::rf ? tried.rf : tried.modulation)) continue;
    const bool by_itself =
        owed.why == Owed::Why::unanswered ? owed.by == Face::remote : off_when_reached_;
    if (!alone || by_itself) return output;
  }
  return std::nullopt;
}

void DeviceSession::note_reachable(DeviceFault fault) {
  const bool now = fault == DeviceFault::none;
  if (reachable_known_ && now == reachable_) return;
  reachable_known_ = true;
  reachable_ = now;
  tell([fault](SessionEvents& e) { e.reachability_changed(fault); });
}

void DeviceSession::close_port() {
  try {
    port_.set_PortOpen(false);
  } catch (const std::exception&) {
    // Closing a port that already failed may fail again; it is closed as
    // far as this session cares, and the next command opens it anew.
  }
}

DeviceFault DeviceSession::put(std::string_view command) {
  if (const DeviceFault fault = reach(); fault != DeviceFault::none) return fault;
  // Whatever came before belongs to no command of ours.
  link_.empty_received();
  return link_.write(command) ? DeviceFault::none : lost_fault_;
}

void DeviceSession::lost(DeviceFault fault) {
  lost_fault_ = fault;
  open_fault_ = fault;
  close_port();
  note_reachable(fault);
  countdowns_.reopen.start();
}

void DeviceSession::read_failed(const PortError& fault) {
  if (pass_running_) {
    // The device goes on sweeping what is left, at the line's rate.
    const Pass* pass = our_pass();
    const std::size_t left = pass != nullptr ? pass->left() : 0;
    unseen_left_ =
        std::chrono::milliseconds{static_cast<long long>(left) * 10 * 1000 / std::max(baud_, 1)};
  }
  lost(lost_fault(fault));
  if (exchanging()) {
    finish(lost_fault_);
  } else if (pass_running_) {
    end_pass(lost_fault_);
  } else {
    tell([fault = lost_fault_](SessionEvents& e) { e.port_lost(fault); });
    end_late_wait();
  }
}

// Link::write reports the fault and returns false; the caller answers.
void DeviceSession::write_failed(const PortError& fault) { lost(lost_fault(fault)); }

}  // namespace talmir880
