#include "app/form1.hpp"

#include "app/layout.hpp"

#include <cmath>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/commands.hpp"
#include "protocol/settings.hpp"

namespace talmir880 {
namespace {

constexpr Phrase kNoConnect = {"没有连机，操作错误！", "沒有連機，操作錯誤！",
                               "no connect,operate error!"};
constexpr Phrase kReceiveError = {"接收数据出错！", "接收數據出錯！", "Receive data error!"};
constexpr Phrase kSendError = {"发送数据出错！", "發送數據出錯！", "Send data error!"};

}  // namespace

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
  MSComm1.OnComm = [this] { run([this] { MSComm1_OnComm(); }); };
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

void Form1::Form_Load() {
  Combo4.AddItem("单点", 0);
  Combo4.AddItem("扫频", 1);
  Combo4.set_ListIndex(0);

  ProgressBar_sweep.set_Value(50);

  Combo3.AddItem("简体中文", 0);
  Combo3.AddItem("繁体中文", 1);
  Combo3.AddItem("ENGLISH", 2);
  Combo3.set_ListIndex(0);

  for (double step : protocol::kTuningStepsHz) {
    Combo2.AddItem(Tuning::step_caption(step), Combo2.ListCount());
  }
  Combo2.set_ListIndex(0);
  tuning.vfo_step = protocol::kTuningStepsHz.front();

  for (int level : protocol::kLevelsDbm) {
    Combo1.AddItem(std::to_string(level) + "dBm", Combo1.ListCount());
  }
  Combo1.set_ListIndex(0);
  // The device is taken to be at -3 dBm without having been told so.
  output.level_sent = protocol::rf_level(protocol::kStartUp.level_dbm);
  output.level_command = output.level_sent;

  for (int n = kFirstCommPort; n <= kLastCommPort; ++n) {
    COM_Combo.AddItem("COM" + std::to_string(n), n - kFirstCommPort);
  }
  COM_Combo.set_ListIndex(kStartUpCommPort - kFirstCommPort);

  int start_speed = 0;
  for (std::string_view settings : protocol::kSpeedSettings) {
    if (settings == protocol::kStartUpSpeed) start_speed = BAU_Combo.ListCount();
    BAU_Combo.AddItem(std::string(protocol::baud_of(settings)), BAU_Combo.ListCount());
  }
  BAU_Combo.set_ListIndex(start_speed);

  form.set_Caption("TALMIR-880控制软件 KELDOR 2016-01-08");
  Combo3_Click();
}

void Form1::run(const std::function<void()>& event) {
  // The line is the panel's until the handler has returned, boxes and all.
  struct Held {
    SharedLine& line;
    explicit Held(SharedLine& l) : line(l) { line.panel_event_began(); }
    ~Held() { line.panel_event_ended(); }
  } held{device_line};
  try {
    event();
  } catch (const PortError& fault) {
    // Writes go through the link, which reports its own faults; anything
    // else the port throws is a fault of the line all the same.
    write_failed(fault);
  }
}

void Form1::not_acknowledged() {
  device_line.panel_gave_up();
  notices.tell(kNoConnect);
}

// The hand's own changes are on the window already, and a script's that
// the hand overtook would only flicker there.
void Form1::held_changed(Fact fact, Face by, bool overtaken) {
  if (by != Face::remote || overtaken) return;
  const Held& h = device_line.state().held();
  switch (fact) {
    case Fact::rf:
      if (h.rf == Switched::on) {
        tuning.show_rf(h.rf_hz);
      } else {
        tuning.show_rf_off();
      }
      break;
    case Fact::modulation:
      if (h.modulation == Switched::on) {
        tuning.show_modulation(h.modulation_hz);
      } else {
        tuning.show_modulation_off();
      }
      break;
    case Fact::level:
      output.show_level(static_cast<int>(h.value(protocol::kLevel)));
      break;
    case Fact::saved:
      break;  // nothing on the panel shows it
  }
}

// A script's stop is its last point; the panel's end lies one step past it,
// its step being (end - start) / samples. The fields show the end the hand
// would type for the same pass, with the step the device is sent in 10 Hz,
// so that SIGNAL on them sends the script's "$W" again.
void Form1::show_sweep_fields(double start_hz, double stop_hz, int points) {
  double end_hz = stop_hz;
  if (points > 1) {
    const double step_hz = protocol::sweep_step_sent((stop_hz - start_hz) / (points - 1));
    end_hz = start_hz + step_hz * points;
  }
  sweep.show_fields(start_hz, end_hz, points);
}

// The hand's own pass moves the bar from its own timer.
void Form1::pass_progressed(const Pass& pass) {
  if (pass.by == Face::remote && pass.expected > 0) {
    sweep.show_progress(100.0 * static_cast<double>(pass.seen) /
                        static_cast<double>(pass.expected));
  }
}

// A fault ends a running sweep before the box opens: the box keeps the event
// loop running, and the next pass would meet the fault again. The receive
// box alone carries the application's own title.
void Form1::read_failed(const PortError&) {
  sweep.port_fault();
  notices.tell(kReceiveError, kApplicationTitle);
}

void Form1::write_failed(const PortError&) {
  sweep.port_fault();
  notices.tell(kSendError);
}

std::vector<Control*> Form1::controls() {
  std::vector<Control*> all{&form, &Timer1, &Timer_sweep};
  for (const LayoutRow& row : kLayout) all.push_back(&row.of(*this));
  return all;
}

}  // namespace talmir880
