#pragma once

#include <string_view>

#include "link/receive_text.hpp"
#include "link/serial_port.hpp"
#include "toolkit/controls.hpp"
#include "toolkit/message_box.hpp"

namespace talmir880 {

// The device link: the replies collected in receive_data, the acknowledgement
// rule, the 500 ms watchdog Timer1, and the three things every command
// sender needs. Each sender calls them in its own order.
class Link {
 public:
  Link(SerialPort& MSComm1, Timer& Timer1, const Notices& notices);

  void MSComm1_OnComm();
  void Timer1_Timer();

  void empty_received() { receive_data.clear(); }
  bool port_open() const { return MSComm1_.PortOpen(); }
  // The command as it is, in one write; callers test port_open() first.
  void write(std::string_view command) { MSComm1_.Output(command); }
  void arm_watchdog() { Timer1_.set_Enabled(true); }

  ReceiveText receive_data;

 private:
  SerialPort& MSComm1_;
  Timer& Timer1_;
  const Notices& notices_;
};

}  // namespace talmir880
