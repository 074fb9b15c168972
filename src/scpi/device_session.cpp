#include "scpi/device_session.hpp"

#include <exception>
#include <utility>

#include "protocol/commands.hpp"

namespace talmir880::scpi {

DeviceSession::DeviceSession(SerialPort& port, Countdown& watchdog, Countdown& stall)
    : port_(port), watchdog_(watchdog), stall_(stall), link_(port, watchdog, *this) {
  port_.OnComm = [this] { link_.MSComm1_OnComm(); };
}

DeviceSession::~DeviceSession() { port_.OnComm = nullptr; }

bool DeviceSession::open_port() {
  if (port_.PortOpen()) return true;
  try {
    port_.set_PortOpen(true);
  } catch (const std::exception&) {
    return false;
  }
  return port_.PortOpen();
}

void DeviceSession::close_port() {
  try {
    port_.set_PortOpen(false);
  } catch (const std::exception&) {
    // Closing a port that already failed may fail again; it is closed as
    // far as this session cares, and the next command opens it anew.
  }
}

bool DeviceSession::put(std::string_view command) {
  if (!open_port()) return false;
  // Whatever came before belongs to no command of ours.
  link_.empty_received();
  return link_.write(command);
}

DeviceFault DeviceSession::send(std::string_view command, std::function<void(DeviceFault)> done) {
  if (!put(command)) return DeviceFault::missing;
  done_ = std::move(done);
  link_.arm_watchdog();
  return DeviceFault::none;
}

DeviceFault DeviceSession::start_pass(std::string_view command, std::size_t points) {
  if (!put(command)) return DeviceFault::missing;
  pass_running_ = true;
  pass_expected_ = points * protocol::kCharsPerSweepPoint;
  pass_counted_ = 0;
  seen_ = 0;
  stall_.start();
  return DeviceFault::none;
}

void DeviceSession::finish(DeviceFault fault) {
  watchdog_.stop();
  auto done = std::exchange(done_, nullptr);
  done(fault);
}

void DeviceSession::end_pass(DeviceFault fault) {
  pass_running_ = false;
  stall_.stop();
  // Reports past the last point are noise, not the start of a reply.
  link_.empty_received();
  if (pass_ended) pass_ended(fault);
}

void DeviceSession::stall_ran_out() {
  if (pass_running_) end_pass(DeviceFault::stalled);
}

void DeviceSession::acknowledged() {
  if (exchanging()) {
    finish(DeviceFault::none);
  } else if (pass_running_) {
    // A late R (a reply that came after its command was given up) emptied
    // the reports; those seen before it still count.
    pass_counted_ += seen_;
    seen_ = 0;
  }
}

void DeviceSession::received() {
  if (!pass_running_) return;
  seen_ = link_.receive_data.size();
  stall_.start();
  if (pass_counted_ + seen_ >= pass_expected_) end_pass(DeviceFault::none);
}

void DeviceSession::not_acknowledged() {
  if (exchanging()) finish(DeviceFault::no_acknowledge);
}

void DeviceSession::read_failed(const PortError&) {
  close_port();
  if (exchanging()) {
    finish(DeviceFault::missing);
  } else if (pass_running_) {
    end_pass(DeviceFault::missing);
  } else if (port_lost) {
    port_lost();
  }
}

// Link::write reports the fault and returns false; the caller answers.
void DeviceSession::write_failed(const PortError&) { close_port(); }

}  // namespace talmir880::scpi
