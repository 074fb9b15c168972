#pragma once

#include <string>

#include "link/serial_port.hpp"
#include "toolkit/controls.hpp"
#include "toolkit/message_box.hpp"

namespace talmir880 {

// The open and close buttons and the port-state label.
class PortConnection {
 public:
  PortConnection(SerialPort& MSComm1, const ComboBox& COM_Combo, const ComboBox& BAU_Combo,
                 Label& Label_COM_state, const std::string& port_open_text,
                 const std::string& port_closed_text, const Notices& notices);

  void Command_uart_port_open_Click();
  void Command_uart_port_closed_Click();

  // The Settings string of each BAU_Combo index.
  static std::string settings_for(int baud_index);

 private:
  SerialPort& MSComm1_;
  const ComboBox& COM_Combo_;
  const ComboBox& BAU_Combo_;
  Label& Label_COM_state_;
  const std::string& port_open_text_;
  const std::string& port_closed_text_;
  const Notices& notices_;
};

}  // namespace talmir880
