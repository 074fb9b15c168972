// A sweep pass of the session's: written, then counted through the line's
// reports until the line is quiet after the last, or until it stalls.
#include <algorithm>
#include <chrono>

#include "device/deferred.hpp"
#include "device/device_session.hpp"

namespace talmir880 {

std::chrono::milliseconds pass_quiet_time(int baud) {
  using std::chrono::milliseconds;
  const milliseconds five_characters{baud > 0 ? (5 * 10 * 1000 + baud - 1) / baud : 0};
  return std::max(milliseconds{20}, five_characters);
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

void DeviceSession::end_pass(DeviceFault fault) {
  pass_running_ = false;
  countdowns_.stall.stop();
  countdowns_.quiet.stop();
  // Reports past the last point are noise, not the start of a reply.
  link_.empty_received();
  line_.remote_pass_ended();
  pass_end_untold_ = true;
  Deferred::here().post(this, [this, fault] {
    pass_end_untold_ = false;
    events_.pass_ended(fault);
  });
}

void DeviceSession::stall_ran_out() {
  if (pass_running_) end_pass(DeviceFault::stalled);
}

void DeviceSession::quiet_ran_out() {
  if (pass_running_) end_pass(DeviceFault::none);
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

}  // namespace talmir880
