#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "connection/port_connection.hpp"
#include "device/generator_state.hpp"
#include "device/link.hpp"
#include "device/shared_line.hpp"
#include "link/countdown.hpp"
#include "link/serial_port.hpp"
#include "output/level_and_save.hpp"
#include "sweep/sweep.hpp"
#include "toolkit/controls.hpp"
#include "toolkit/message_box.hpp"
#include "tuning/tuning.hpp"

namespace talmir880 {

// Timer1 is the watchdog's clock: a window timer, run by the face like the
// others, that the link starts and stops.
class TimerCountdown final : public Countdown {
 public:
  explicit TimerCountdown(Timer& timer) : timer_(timer) {}
  void start() override { timer_.set_Enabled(true); }
  void stop() override { timer_.set_Enabled(false); }
  bool running() const override { return timer_.Enabled(); }

 private:
  Timer& timer_;
};

// The one window: it owns every control and the form-level state, hands each
// subsystem the controls it may touch, wires the handlers, and tells the user
// what the link reports.
class Form1 : private LinkEvents, private GeneratorObserver, private LineEvents, private LineUser {
 public:
  Form1(SerialPort& MSComm1, MessageBoxes& boxes);
  Form1(const Form1&) = delete;
  Form1& operator=(const Form1&) = delete;

  void Form_Load();
  void Combo3_Click();
  // The serial control's event (what the line found in it for the panel)
  // and the watchdog's tick, handled by the link.
  void MSComm1_OnComm(const LineReply& reply) { link.replied(reply); }
  void Timer1_Timer() { link.watchdog_ran_out(); }

  // The one door for events from the outside world: clicks, picks and typing
  // (the face calls it), serial events and timer ticks (wired here). A port
  // fault that escapes a handler is told to the user; it never ends the
  // program.
  void run(const std::function<void()>& event);

  // Every control but the serial port, for faces that mirror them all.
  std::vector<Control*> controls();

  // What the automation server made the device do, shown as the same change
  // by hand would leave the window; nothing is sent. What the device took
  // comes from the line's state; the sweep's fields, a pass begun, coming
  // on, the sweep ended and the controls locked from the server
  // (SYSTem:RWLock) or not, from the server.
  void show_sweep_fields(double start_hz, double stop_hz, int points);
  void show_pass(bool repeating) { sweep.show_pass(repeating); }
  void show_sweep_end() { sweep.show_end(); }
  void lock_controls(bool locked) { form.set_Enabled(!locked); }
  // STOP SWEEP was pressed: a sweep the server repeats ends too.
  std::function<void()> sweep_stopped;

  // The serial port as the panel shares it: MSComm1 is its panel's side.
  SharedLine device_line;

  Window form{"Form1"};
  Button Command_uart_port_open{"Command_uart_port_open"};
  Button Command_uart_port_closed{"Command_uart_port_closed"};
  Label Label_COM_state{"Label_COM_state"};
  ComboBox COM_Combo{"COM_Combo"};
  ComboBox BAU_Combo{"BAU_Combo"};
  SerialPort& MSComm1;
  Timer Timer1{"Timer1", static_cast<int>(kAcknowledgeTimeout.count())};
  TextBox Text_send{"Text_send"};
  Label Label_RF{"Label_RF"};
  Label Label_MOD{"Label_MOD"};
  Button Command1{"Command1"}, Command2{"Command2"}, Command3{"Command3"}, Command4{"Command4"},
      Command5{"Command5"}, Command6{"Command6"}, Command7{"Command7"}, Command8{"Command8"},
      Command9{"Command9"}, Command10{"Command10"}, Command11{"Command11"}, Command12{"Command12"},
      Command13{"Command13"}, Command14{"Command14"}, Command15{"Command15"},
      Command16{"Command16"}, Command17{"Command17"}, Command23{"Command23"},
      Command18{"Command18"}, Command19{"Command19"};
  ComboBox Combo2{"Combo2"};
  Label Label2{"Label2"};
  Button Command21{"Command21"}, Command22{"Command22"};
  ComboBox Combo1{"Combo1"};
  Label Label1{"Label1"};
  Button Command24{"Command24"};
  ComboBox Combo4{"Combo4"};
  Label Label3{"Label3"};
  ComboBox Combo3{"Combo3"};
  Label Label_language{"Label_language"};
  TextBox Text_star{"Text_star"}, Text_end{"Text_end"}, Text_sample{"Text_sample"};
  Label Label_star{"Label_star"}, Label_end{"Label_end"}, Label_sample{"Label_sample"},
      Label_progress{"Label_progress"};
  Button Command_signal{"Command_signal"}, Command_cont{"Command_cont"},
      Command_stop{"Command_stop"};
  ProgressBar ProgressBar_sweep{"ProgressBar_sweep"};
  Timer Timer_sweep{"Timer_sweep", 50};

  // Form-level texts of the language switch.
  std::string port_open_text;
  std::string port_closed_text;
  std::string save_hint;

  MessageBoxes& boxes;
  Notices notices;
  TimerCountdown watchdog{Timer1};
  Link link;
  PortConnection port;
  Tuning tuning;
  LevelAndSave output;
  Sweep sweep;

 private:
  void set_design_captions();
  void wire();

  void held_changed(Fact fact, Face by, bool overtaken) override;
  void pass_progressed(const Pass& pass) override;
  // The line asks whether the panel's sweep runs.
  bool panel_sweeping() const override { return Timer_sweep.Enabled(); }

  void not_acknowledged() override;
  void write_failed(const PortError& fault) override;
  void receive_failed();
  // The serial port's event, as a handler of the window.
  void replied(const LineReply& reply) override {
    run([this, &reply] { MSComm1_OnComm(reply); });
  }
  void read_failed(const PortError&) override {
    run([this] { receive_failed(); });
  }
};

}  // namespace talmir880
