#pragma once

#include "device/link.hpp"
#include "protocol/commands.hpp"
#include "toolkit/controls.hpp"
#include "toolkit/message_box.hpp"

namespace talmir880 {

// Sweep setup, progress and repetition. The sweep's state lives only in the
// enabled states of Timer_sweep, SIGNAL and CONT: CONT disabled means the
// sweep repeats.
class Sweep {
 public:
  Sweep(TextBox& Text_star, TextBox& Text_end, TextBox& Text_sample, Button& Command_signal,
        Button& Command_cont, Timer& Timer_sweep, ProgressBar& ProgressBar_sweep, Link& link,
        const Notices& notices);

  void Command_signal_Click();
  void Timer_sweep_Timer();
  void Command_cont_Click();
  void Command_stop_Click();

  // The port failed: a running sweep ends, so its next pass does not meet
  // the same fault and tell it again.
  void port_fault();

  // A sweep run from elsewhere, shown as the panel shows its own: the
  // fields in the panel's form, the buttons of a running sweep (CONT too
  // when passes repeat), the bar, and idle again at the end. Nothing is
  // sent, and the panel's own sweep is left alone.
  void show_fields(double start_hz, double end_hz, double samples);
  void show_pass(bool repeating);
  void show_progress(double percent);
  void show_end();

  static constexpr double kMaxSamples = protocol::kMaxSweepPoints;

  double sweep_start = 0;    // Hz
  double sweep_end = 0;      // Hz
  double sweep_step = 0;     // Hz per sample
  double sweep_samples = 0;  // samples of one pass

 private:
  void back_to_idle();

  TextBox& Text_star_;
  TextBox& Text_end_;
  TextBox& Text_sample_;
  Button& Command_signal_;
  Button& Command_cont_;
  Timer& Timer_sweep_;
  ProgressBar& ProgressBar_sweep_;
  Link& link_;
  const Notices& notices_;
};

}  // namespace talmir880
