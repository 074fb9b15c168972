#pragma once

#include <string>
#include <string_view>

#include "device/link.hpp"
#include "toolkit/controls.hpp"
#include "toolkit/message_box.hpp"

namespace talmir880 {

struct TuningKind;

// The entry line and its keypad, Send_entry, the tuning step and the RF and
// modulation switches. Label_RF and Label_MOD are the only record of the
// frequencies: Send_entry writes them, the step and switch buttons read them.
class Tuning {
 public:
  Tuning(TextBox& Text_send, Label& Label_RF, Label& Label_MOD, const ComboBox& Combo2, Link& link,
         const Notices& notices);

  // Keypad: digits, point, units, RF, MOD, clear.
  void Command1_Click() { append("1"); }
  void Command2_Click() { append("2"); }
  void Command3_Click() { append("3"); }
  void Command4_Click() { append("4"); }
  void Command5_Click() { append("5"); }
  void Command6_Click() { append("6"); }
  void Command7_Click() { append("7"); }
  void Command8_Click() { append("8"); }
  void Command9_Click() { append("9"); }
  void Command10_Click() { append("0"); }
  void Command11_Click() { append("."); }
  void Command12_Click() { append_unit("GHz"); }
  void Command13_Click() { append_unit("kHz"); }
  void Command14_Click() { append_unit("MHz"); }
  void Command15_Click() { append_unit("Hz"); }
  void Command16_Click() { Text_send_.set_Text("RF "); }
  void Command17_Click() { Text_send_.set_Text("MOD "); }
  void Command23_Click() { Text_send_.set_Text(""); }

  void Send_entry();

  void Combo2_Click();
  void Command18_Click() { step(+1); }  // STEP+
  void Command19_Click() { step(-1); }  // STEP-

  void Command21_Click();  // RF ON/OFF
  void Command22_Click();  // MOD ON/OFF

  // What the device took from elsewhere, shown as the same change by hand
  // would leave the panel: a frequency as its keypad entry, off as the
  // on/off switch. Nothing is sent.
  void show_rf(double hz) { show(rf_kind(), hz); }
  void show_rf_off() { show_off(rf_kind(), rf_saved); }
  void show_modulation(double hz) { show(modulation_kind(), hz); }
  void show_modulation_off() { show_off(modulation_kind(), mod_saved); }

  // The labels as designed, before anything was sent: a value in the
  // display's shape with its unit straight after the digits.
  static std::string designed_rf_caption(double hz);
  static std::string designed_modulation_caption(double hz);
  // A tuning step as the step list shows it: "1GHz", "100MHz", "10Hz".
  static std::string step_caption(double hz);

  double vfo_step = 0;
  std::string rf_saved;
  std::string mod_saved;

 private:
  void append(std::string_view key);
  void append_unit(std::string_view unit);
  // False when the entry was refused or its write failed; the user has been
  // told, and no watchdog message is to follow.
  bool send_value(const TuningKind& kind, const std::string& entry);
  Label& label_of(const TuningKind& kind) const;
  static const TuningKind& rf_kind();
  static const TuningKind& modulation_kind();
  // The entry line and the label for a value; 0 is off.
  void show(const TuningKind& kind, double value);
  void show_off(const TuningKind& kind, std::string& saved);
  void step(int direction);
  void toggle(const TuningKind& kind, std::string& saved);

  TextBox& Text_send_;
  Label& Label_RF_;
  Label& Label_MOD_;
  const ComboBox& Combo2_;
  Link& link_;
  const Notices& notices_;
};

}  // namespace talmir880
