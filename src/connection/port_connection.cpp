#include "connection/port_connection.hpp"

#include <exception>
#include <stdexcept>

#include "protocol/commands.hpp"

namespace talmir880 {
namespace {

constexpr Phrase kPortError = {"    串口错误！", "    串口錯誤！", "    COM PORT ERROR!"};

}  // namespace

PortConnection::PortConnection(SerialPort& MSComm1, const ComboBox& COM_Combo,
                               const ComboBox& BAU_Combo, Label& Label_COM_state,
                               const std::string& port_open_text,
                               const std::string& port_closed_text, const Notices& notices)
    : MSComm1_(MSComm1),
      COM_Combo_(COM_Combo),
      BAU_Combo_(BAU_Combo),
      Label_COM_state_(Label_COM_state),
      port_open_text_(port_open_text),
      port_closed_text_(port_closed_text),
      notices_(notices) {}

std::string PortConnection::settings_for(int baud_index) {
  if (baud_index < 0 || baud_index >= static_cast<int>(protocol::kSpeedSettings.size())) {
    throw std::out_of_range("no speed selected");
  }
  return std::string(protocol::kSpeedSettings[static_cast<std::size_t>(baud_index)]);
}

void PortConnection::Command_uart_port_open_Click() {
  try {
    // An open port is not reconfigured: a new pick applies after close and open.
    if (!MSComm1_.PortOpen()) {
      MSComm1_.set_CommPort(COM_Combo_.ListIndex() + kFirstCommPort);
      MSComm1_.set_Settings(settings_for(BAU_Combo_.ListIndex()));
      MSComm1_.set_PortOpen(true);
    }
  } catch (const std::exception&) {
    notices_.tell(kPortError);
    return;
  }
  Label_COM_state_.set_Caption(port_open_text_);
  Label_COM_state_.set_ForeColor(kRed);
}

void PortConnection::Command_uart_port_closed_Click() {
  if (!MSComm1_.PortOpen()) return;
  MSComm1_.set_PortOpen(false);
  Label_COM_state_.set_Caption(port_closed_text_);
  Label_COM_state_.set_ForeColor(kBlack);
}

}  // namespace talmir880
