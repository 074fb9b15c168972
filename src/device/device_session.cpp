#include "device/device_session.hpp"

#include <algorithm>
#include <exception>
#include <utility>

#include "device/deferred.hpp"
#include "protocol/commands.hpp"

namespace talmir880 {
namespace {

DeviceFault open_fault(PortError::Cause cause) {
  switch (cause) {
    case PortError::Cause::busy:
      return DeviceFault::port_busy;
    case PortError::Cause::missing:
      return DeviceFault::no_such_port;
    case PortError::Cause::gone:
      return DeviceFault::device_gone;
    case PortError::Cause::closed:
      return DeviceFault::port_closed;
    case PortError::Cause::network:
      return DeviceFault::link_lost;
    case PortError::Cause::unresolved:
      return DeviceFault::host_unknown;
    case PortError::Cause::other:
      break;
  }
  return DeviceFault::port_failed;
}

// A port that failed while open: a device gone, or the network to it.
DeviceFault lost_fault(const PortError& fault) {
  return fault.cause() == PortError::Cause::network ? DeviceFault::link_lost
                                                    : DeviceFault::device_gone;
}

}  // namespace

std::string_view cause(DeviceFault fault) {
  switch (fault) {
    case DeviceFault::none:
      break;
    case DeviceFault::no_acknowledge:
      return "no acknowledge";
    case DeviceFault::stalled:
      return "sweep stalled";
    case DeviceFault::port_busy:
      return "port busy";
    case DeviceFault::no_such_port:
      return "no such port";
    case DeviceFault::device_gone:
      return "device gone";
    case DeviceFault::port_failed:
      return "port failed";
    case DeviceFault::port_closed:
      return "port closed";
    case DeviceFault::link_lost:
      return "network link lost";
    case DeviceFault::host_unknown:
      return "host name does not resolve";
  }
  return {};
}

std::chrono::milliseconds pass_quiet_time(int baud) {
  using std::chrono::milliseconds;
  const milliseconds five_characters{baud > 0 ? (5 * 10 * 1000 + baud - 1) / baud : 0};
  return std::max(milliseconds{20}, five_characters);
}

DeviceSession::DeviceSession(SharedLine& line, Countdowns countdowns, SessionEvents& events)
    : line_(line),
      port_(line.remote()),
      countdowns_(countdowns),
      events_(events),
      link_(port_, countdowns.watchdog, *this),
      baud_(parse_settings(protocol::kStartUpSpeed).baud) {
  port_.OnComm = [this] { link_.port_event(); };
}

DeviceSession::~DeviceSession() {
  port_.OnComm = nullptr;
  Deferred::here().forget(this);
}

template <typename Call>
void DeviceSession::tell(Call call) {
  Deferred::here().tell(this, events_, call);
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

DeviceFault DeviceSession::send(std::string_view command, std::function<void(DeviceFault)> done) {
  const DeviceFault fault = put(command);
  if (fault != DeviceFault::none) return fault;
  done_ = std::move(done);
  link_.arm_watchdog();
  return DeviceFault::none;
}

DeviceFault DeviceSession::start_pass(std::string_view command) {
  const DeviceFault fault = put(command);
  if (fault != DeviceFault::none) return fault;
  pass_running_ = true;
  countdowns_.stall.start();
  return DeviceFault::none;
}

// The line counts the pass's reports, once for everyone.
const Pass* DeviceSession::our_pass() const {
  const std::optional<Pass>& pass = line_.state().pass();
  return pass && pass->by == Face::remote ? &*pass : nullptr;
}

void DeviceSession::finish(DeviceFault fault) {
  countdowns_.watchdog.stop();
  auto done = std::exchange(done_, nullptr);
  if (fault == DeviceFault::no_acknowledge) {
    line_.remote_unanswered();
    late_ = true;
    link_.arm_watchdog();
  } else {
    line_.remote_exchange_ended();
  }
  ended_ = std::move(done);
  Deferred::here().post(this, [this, fault] { std::exchange(ended_, nullptr)(fault); });
}

void DeviceSession::end_late_wait() {
  if (!late_) return;
  late_ = false;
  countdowns_.watchdog.stop();
  line_.remote_exchange_ended();
  tell([](SessionEvents& e) { e.settled(); });
}

void DeviceSession::end_pass(DeviceFault fault) {
  pass_running_ = false;
  countdowns_.stall.stop();
  countdowns_.quiet.stop();
  // Reports past the last point are noise, not the start of a reply.
  link_.empty_received();
  line_.remote_pass_ended();
  tell([fault](SessionEvents& e) { e.pass_ended(fault); });
}

void DeviceSession::stall_ran_out() {
  if (pass_running_) end_pass(DeviceFault::stalled);
}

void DeviceSession::quiet_ran_out() {
  if (pass_running_) end_pass(DeviceFault::none);
}

void DeviceSession::acknowledged() {
  note_reachable(DeviceFault::none);
  if (exchanging()) {
    finish(DeviceFault::none);
  } else if (late_) {
    tell([](SessionEvents& e) { e.late_acknowledged(); });
    end_late_wait();
  } else if (pass_running_) {
    received();  // an R in a pass is noise, and counts as such
  }
}

// Only a pass's reports are the device's words: what comes otherwise may be
// a network link's own (ser2net's "Device open failure") or noise.
void DeviceSession::received() {
  if (!pass_running_) return;
  note_reachable(DeviceFault::none);
  countdowns_.stall.start();
  // Past the last report every character, report or noise, puts the end
  // off until the line is quiet: as many reports as noise pushed ahead may
  // still come. A line that never goes quiet (noise without end) gets at
  // most a second pass's worth.
  const Pass* pass = our_pass();
  if (pass == nullptr ||
      (pass->complete() && (!countdowns_.quiet.running() || pass->within_noise_bound()))) {
    countdowns_.quiet.start();
  }
}

void DeviceSession::not_acknowledged() {
  if (exchanging()) {
    finish(DeviceFault::no_acknowledge);
  } else {
    end_late_wait();
  }
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
