// The window as built: its controls, their design-time captions, their
// handlers wired to the subsystems.
#include "app/form1.hpp"

#include <string>

#include "app/layout.hpp"
#include "protocol/commands.hpp"
#include "protocol/settings.hpp"

namespace talmir880 {

Form1::Form1(SerialPort& serial, MessageBoxes& shown)
    : device_line(serial),
      MSComm1(device_line.panel()),
      boxes(shown),
      notices(boxes, Combo3),
      link(MSComm1, watchdog, *this),
      port(MSComm1, COM_Combo, BAU_Combo, Label_COM_state, port_open_text, port_closed_text,
           notices),
      tuning(Text_send, Label_RF, Label_MOD, Combo2, link, notices),
      output(Combo1, Combo4, save_hint, link, notices),
      sweep(Text_star, Text_end, Text_sample, Command_signal, Command_cont, Timer_sweep,
            ProgressBar_sweep, link, notices) {
  set_design_captions();
  wire();
}

// The window as created, before start-up runs.
void Form1::set_design_captions() {
  Button* digits[] = {&Command1, &Command2, &Command3, &Command4, &Command5,
                      &Command6, &Command7, &Command8, &Command9};
  for (int i = 0; i < 9; ++i) digits[i]->set_Caption(std::to_string(i + 1));
  Command10.set_Caption("0");
  Command11.set_Caption("●");
  Command12.set_Caption("GHz");
  Command13.set_Caption("kHz");
  Command14.set_Caption("MHz");
  Command15.set_Caption("Hz");
  Text_send.set_Text("RF 1 000.000 000MHz");
  // The device's start-up settings, unnormalised as typed in the designer.
  const protocol::StartUp& s = protocol::kStartUp;
  Label_RF.set_Caption(Tuning::designed_rf_caption(s.rf_hz));
  Label_MOD.set_Caption(Tuning::designed_modulation_caption(s.modulation_hz));
  Text_star.set_Text(protocol::zero_padded(s.sweep_start_hz / 1e6, 1) + "MHz");
  Text_end.set_Text(protocol::zero_padded(s.sweep_end_hz / 1e6, 1) + "MHz");
  Text_sample.set_Text(std::to_string(s.sweep_points));
  Label_COM_state.set_Caption("串口关闭");
}

void Form1::wire() {
  Command_uart_port_open.Click = [this] { port.Command_uart_port_open_Click(); };
  Command_uart_port_closed.Click = [this] { port.Command_uart_port_closed_Click(); };
  device_line.hear(Face::panel, this);
  Timer1.Tick = [this] { run([this] { Timer1_Timer(); }); };

  Command1.Click = [this] { tuning.Command1_Click(); };
  Command2.Click = [this] { tuning.Command2_Click(); };
  Command3.Click = [this] { tuning.Command3_Click(); };
  Command4.Click = [this] { tuning.Command4_Click(); };
  Command5.Click = [this] { tuning.Command5_Click(); };
  Command6.Click = [this] { tuning.Command6_Click(); };
  Command7.Click = [this] { tuning.Command7_Click(); };
  Command8.Click = [this] { tuning.Command8_Click(); };
  Command9.Click = [this] { tuning.Command9_Click(); };
  Command10.Click = [this] { tuning.Command10_Click(); };
  Command11.Click = [this] { tuning.Command11_Click(); };
  Command12.Click = [this] { tuning.Command12_Click(); };
  Command13.Click = [this] { tuning.Command13_Click(); };
  Command14.Click = [this] { tuning.Command14_Click(); };
  Command15.Click = [this] { tuning.Command15_Click(); };
  Command16.Click = [this] { tuning.Command16_Click(); };
  Command17.Click = [this] { tuning.Command17_Click(); };
  Command23.Click = [this] { tuning.Command23_Click(); };
  Combo2.Click = [this] { tuning.Combo2_Click(); };
  Command18.Click = [this] { tuning.Command18_Click(); };
  Command19.Click = [this] { tuning.Command19_Click(); };
  Command21.Click = [this] { tuning.Command21_Click(); };
  Command22.Click = [this] { tuning.Command22_Click(); };

  Combo1.Click = [this] { output.Combo1_Click(); };
  Command24.Click = [this] { output.Command24_Click(); };

  Command_signal.Click = [this] { sweep.Command_signal_Click(); };
  Command_cont.Click = [this] { sweep.Command_cont_Click(); };
  Command_stop.Click = [this] {
    sweep.Command_stop_Click();
    if (sweep_stopped) sweep_stopped();
  };
  Timer_sweep.Tick = [this] { run([this] { sweep.Timer_sweep_Timer(); }); };

  Combo3.Click = [this] { Combo3_Click(); };

  device_line.add_listener(*this);
  device_line.observe(*this);
}

std::vector<Control*> Form1::controls() {
  std::vector<Control*> all{&form, &Timer1, &Timer_sweep};
  for (const LayoutRow& row : kLayout) all.push_back(&row.of(*this));
  return all;
}

}  // namespace talmir880
