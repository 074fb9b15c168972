#include "app/form1.hpp"

namespace talmir880 {

Form1::Form1(SerialPort& serial, MessageBoxes& boxes)
    : MSComm1(serial),
      notices(boxes, Combo3),
      link(MSComm1, Timer1, notices),
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
  Label_RF.set_Caption("RF 0 100.000 000MHz");
  Label_MOD.set_Caption("MOD 0 001.000kHz");
  Text_star.set_Text("100MHz");
  Text_end.set_Text("500MHz");
  Text_sample.set_Text("500");
  Label_COM_state.set_Caption("串口关闭");
}

void Form1::wire() {
  Command_uart_port_open.Click = [this] { port.Command_uart_port_open_Click(); };
  Command_uart_port_closed.Click = [this] { port.Command_uart_port_closed_Click(); };
  MSComm1.OnComm = [this] { link.MSComm1_OnComm(); };
  Timer1.Tick = [this] { link.Timer1_Timer(); };

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
  Command_stop.Click = [this] { sweep.Command_stop_Click(); };
  Timer_sweep.Tick = [this] { sweep.Timer_sweep_Timer(); };

  Combo3.Click = [this] { Combo3_Click(); };
}

void Form1::Form_Load() {
  Combo4.AddItem("单点", 0);
  Combo4.AddItem("扫频", 1);
  Combo4.set_ListIndex(0);

  ProgressBar_sweep.set_Value(50);

  Combo3.AddItem("简体中文", 0);
  Combo3.AddItem("繁体中文", 1);
  Combo3.AddItem("ENGLISH", 2);
  Combo3.set_ListIndex(0);

  const char* steps[] = {"1GHz", "100MHz", "10MHz", "1MHz", "100kHz",
                         "10kHz", "1kHz", "100Hz", "10Hz", "1Hz"};
  for (int i = 0; i < 10; ++i) Combo2.AddItem(steps[i], i);
  Combo2.set_ListIndex(0);
  tuning.vfo_step = 1000000000;

  const char* levels[] = {"-3dBm", "-6dBm", "-9dBm", "-12dBm"};
  for (int i = 0; i < 4; ++i) Combo1.AddItem(levels[i], i);
  Combo1.set_ListIndex(0);
  // The device is taken to be at -3 dBm without having been told so.
  output.level_sent = "$P3";
  output.level_command = "$P3";

  for (int i = 0; i < 10; ++i) COM_Combo.AddItem("COM" + std::to_string(i + 1), i);
  COM_Combo.set_ListIndex(8);

  const char* bauds[] = {"300", "600", "1200", "2400", "4800", "9600", "19200", "38400", "57600"};
  for (int i = 0; i < 9; ++i) BAU_Combo.AddItem(bauds[i], i);
  BAU_Combo.set_ListIndex(8);

  form.set_Caption("TALMIR-880控制软件 KELDOR 2016-01-08");
  Combo3_Click();
}

void Form1::run(const std::function<void()>& event) {
  static constexpr Phrase kSendError = {"发送数据出错！", "發送數據出錯！", "Send data error!"};
  try {
    event();
  } catch (const PortError&) {
    notices.tell(kSendError);
  }
}

std::vector<Control*> Form1::controls() {
  return {&form,      &Command_uart_port_open, &Command_uart_port_closed, &Label_COM_state,
          &COM_Combo, &BAU_Combo,   &Timer1,      &Text_send,   &Label_RF,     &Label_MOD,
          &Command1,  &Command2,    &Command3,    &Command4,    &Command5,     &Command6,
          &Command7,  &Command8,    &Command9,    &Command10,   &Command11,    &Command12,
          &Command13, &Command14,   &Command15,   &Command16,   &Command17,    &Command23,
          &Command18, &Command19,   &Combo2,      &Label2,      &Command21,    &Command22,
          &Combo1,    &Label1,      &Command24,   &Combo4,      &Label3,       &Combo3,
          &Label_language, &Text_star, &Text_end, &Text_sample, &Label_star,   &Label_end,
          &Label_sample, &Label_progress, &Command_signal, &Command_cont, &Command_stop,
          &ProgressBar_sweep, &Timer_sweep};
}

}  // namespace talmir880
