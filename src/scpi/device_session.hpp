#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string_view>

#include "link/countdown.hpp"
#include "link/link.hpp"
#include "link/serial_port.hpp"

namespace talmir880::scpi {

// What can go wrong with the device.
enum class DeviceFault {
  none,
  no_acknowledge,  // no R within kAcknowledgeTimeout
  stalled,         // a sweep pass made no progress for kSweepStallTimeout
  missing,         // the port would not open, or failed reading or writing
};

// How long a sweep pass may go without a single report before it is given
// up. A point's report takes 133 ms on the line even at 300 baud; a pass
// silent for this long has lost its device, and *OPC? must not wait on it
// for ever.
inline constexpr std::chrono::milliseconds kSweepStallTimeout{2000};

// The serial line to the device, one exchange at a time: a command waiting
// for its acknowledgement, or a sweep pass counting the device's reports.
// The port is opened when a command needs it and closed after a read or
// write fault, so the next command opens it afresh: a device unplugged and
// plugged in again needs no restart. CommPort and Settings are the owner's,
// set on the port before; the port keeps them across closing.
//
// It owns the Link, takes the port's events itself, and is told by its
// owner when either countdown runs out.
class DeviceSession : private LinkEvents {
 public:
  DeviceSession(SerialPort& port, Countdown& watchdog, Countdown& stall);
  ~DeviceSession() override;
  DeviceSession(const DeviceSession&) = delete;
  DeviceSession& operator=(const DeviceSession&) = delete;

  // Writes a command and waits for its acknowledgement; done() hears how it
  // ended. When nothing could be written the fault is returned and done()
  // is never called. Only while idle().
  DeviceFault send(std::string_view command, std::function<void(DeviceFault)> done);
  // Writes a sweep command; the pass runs until the device has reported
  // every point, and pass_ended hears how it ended. Only while idle().
  DeviceFault start_pass(std::string_view command, std::size_t points);

  bool exchanging() const { return done_ != nullptr; }
  bool pass_running() const { return pass_running_; }
  bool idle() const { return !exchanging() && !pass_running(); }

  void watchdog_ran_out() { link_.Timer1_Timer(); }
  void stall_ran_out();

  std::function<void(DeviceFault)> pass_ended;
  // A read fault while nothing was waiting on the device.
  std::function<void()> port_lost;

 private:
  bool open_port();
  // Opens the port if need be, empties the received text and writes: false
  // when the device cannot be reached.
  bool put(std::string_view command);
  void close_port();
  void finish(DeviceFault fault);
  void end_pass(DeviceFault fault);

  void acknowledged() override;
  void received() override;
  void not_acknowledged() override;
  void read_failed(const PortError& fault) override;
  void write_failed(const PortError& fault) override;

  SerialPort& port_;
  Countdown& watchdog_;
  Countdown& stall_;
  Link link_;
  std::function<void(DeviceFault)> done_;
  bool pass_running_ = false;
  std::size_t pass_expected_ = 0;
  // Reports counted before an R emptied receive_data in the middle of a pass.
  std::size_t pass_counted_ = 0;
  std::size_t seen_ = 0;
};

}  // namespace talmir880::scpi
