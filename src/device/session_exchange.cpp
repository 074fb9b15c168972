// A command of the session's: written, then waited for until its R, the
// watchdog, or a late R that counts for it alone.
#include <utility>

#include "device/deferred.hpp"
#include "device/device_session.hpp"

namespace talmir880 {

DeviceFault DeviceSession::send(std::string_view command, std::function<void(DeviceFault)> done) {
  const DeviceFault fault = put(command);
  if (fault != DeviceFault::none) return fault;
  done_ = std::move(done);
  link_.arm_watchdog();
  return DeviceFault::none;
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

void DeviceSession::not_acknowledged() {
  if (exchanging()) {
    finish(DeviceFault::no_acknowledge);
  } else {
    end_late_wait();
  }
}

}  // namespace talmir880
