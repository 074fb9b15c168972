#pragma once

#include <string_view>

#include "device/receive_text.hpp"
#include "device/shared_line.hpp"
#include "link/countdown.hpp"
#include "link/serial_port.hpp"

namespace talmir880 {

// What the link tells its owner. The window turns each into a message box;
// the automation server into the state of the command it waits for.
class LinkEvents {
 public:
  virtual ~LinkEvents() = default;
  // The collected replies hold an R: the watchdog is off, the text emptied.
  virtual void acknowledged() {}
  // Characters came that did not acknowledge; receive_data holds them.
  virtual void received() {}
  // The watchdog ran out before an R came; it is off now.
  virtual void not_acknowledged() = 0;
  // The port failed while writing; nothing was sent, the watchdog is off.
  virtual void write_failed(const PortError& fault) = 0;
};

// One user's link to the device over its side of the line: the replies
// collected in receive_data and the 500 ms watchdog. The line has found
// the R; the link stops the watchdog for it. Every command sender empties
// the received text, writes and arms the watchdog in its own order; what
// comes of it goes to the owner's LinkEvents.
class Link {
 public:
  Link(SerialPort& port, Countdown& watchdog, LinkEvents& events);

  // The line's reply for this user. (A read fault the line tells its user
  // itself: receive_data and the watchdog stay as they were.)
  void replied(const LineReply& reply);
  // The watchdog ran out.
  void watchdog_ran_out();

  void empty_received() { receive_data.clear(); }
  bool port_open() const { return port_.PortOpen(); }
  // The command as it is, in one write; callers test port_open() first.
  // False when the port failed: the watchdog is off, the owner has been
  // told, and the caller ends what it was doing.
  [[nodiscard]] bool write(std::string_view command);
  void arm_watchdog() { watchdog_.start(); }
  bool watchdog_armed() const { return watchdog_.running(); }

  ReceiveText receive_data;

 private:
  SerialPort& port_;
  Countdown& watchdog_;
  LinkEvents& events_;
};

}  // namespace talmir880
