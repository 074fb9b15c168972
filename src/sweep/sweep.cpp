#include "sweep/sweep.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "common/numbers.hpp"
#include "protocol/commands.hpp"

namespace talmir880 {
namespace {

constexpr Phrase kCannotSweep = {"扫描参数错误！", "掃描參數錯誤！", "Sweep setting error!"};

}  // namespace

Sweep::Sweep(TextBox& Text_star, TextBox& Text_end, TextBox& Text_sample, Button& Command_signal,
             Button& Command_cont, Timer& Timer_sweep, ProgressBar& ProgressBar_sweep, Link& link,
             const Notices& notices)
    : Text_star_(Text_star),
      Text_end_(Text_end),
      Text_sample_(Text_sample),
      Command_signal_(Command_signal),
      Command_cont_(Command_cont),
      Timer_sweep_(Timer_sweep),
      ProgressBar_sweep_(ProgressBar_sweep),
      link_(link),
      notices_(notices) {}

void Sweep::Command_signal_Click() {
  Command_signal_.set_Enabled(false);
  const double start = leading_number(Text_star_.Text()) * 1000000;
  const double end = leading_number(Text_end_.Text()) * 1000000;
  double samples = leading_number(Text_sample_.Text());
  if (samples > kMaxSamples) samples = kMaxSamples;
  // No pass the device can run: not one whole point, a frequency below 0
  // (its start field has no sign), or fields beyond a double.
  if (!std::isfinite(samples) || std::round(samples) < 1 || !std::isfinite(start) || start < 0 ||
      !std::isfinite(end) || end < 0 || !std::isfinite((end - start) / samples)) {
    back_to_idle();
    notices_.tell(kCannotSweep);
    return;
  }

  sweep_start = start;
  Text_star_.set_Text(number_text(sweep_start / 1000000) + " MHz");
  sweep_end = end;
  Text_end_.set_Text(number_text(sweep_end / 1000000) + " MHz");
  sweep_samples = samples;
  Text_sample_.set_Text(number_text(sweep_samples));
  sweep_step = (sweep_end - sweep_start) / sweep_samples;

  if (!link_.port_open()) return;
  link_.empty_received();
  if (!link_.write(protocol::sweep(sweep_start, sweep_step, sweep_samples))) {
    back_to_idle();  // the fault has been told
    return;
  }
  Timer_sweep_.set_Enabled(true);
}

void Sweep::show_fields(double start_hz, double end_hz, double samples) {
  Text_star_.set_Text(number_text(start_hz / 1000000) + " MHz");
  Text_end_.set_Text(number_text(end_hz / 1000000) + " MHz");
  Text_sample_.set_Text(number_text(samples));
}

void Sweep::show_pass(bool repeating) {
  if (Timer_sweep_.Enabled()) return;
  Command_signal_.set_Enabled(false);
  Command_cont_.set_Enabled(!repeating);
  ProgressBar_sweep_.set_Value(0);
}

void Sweep::show_progress(double percent) {
  if (Timer_sweep_.Enabled()) return;
  ProgressBar_sweep_.set_Value(static_cast<float>(std::clamp(percent, 0.0, 100.0)));
}

void Sweep::show_end() {
  if (!Timer_sweep_.Enabled()) back_to_idle();
}

void Sweep::port_fault() {
  if (Timer_sweep_.Enabled()) back_to_idle();
}

// SIGNAL usable again, and a continuous sweep does not retry every tick; the
// fields keep what the user typed.
void Sweep::back_to_idle() {
  Timer_sweep_.set_Enabled(false);
  Command_signal_.set_Enabled(true);
  Command_cont_.set_Enabled(true);
}

void Sweep::Timer_sweep_Timer() {
  double progress = 0;
  if (sweep_samples != 0) {
    progress = static_cast<double>(link_.receive_data.size()) /
               static_cast<double>(protocol::kCharsPerSweepPoint) / sweep_samples * 100;
  }
  // The bar takes 0..100 only. More than a pass's worth (a fractional sample
  // count, or noise on the line) counts as the end of the pass.
  if (!(progress > 0)) progress = 0;
  if (progress > 100) progress = 100;
  ProgressBar_sweep_.set_Value(static_cast<float>(progress));
  if (ProgressBar_sweep_.Value() != 100.0f) return;

  if (!Command_cont_.Enabled()) {
    Command_signal_Click();
  } else {
    Timer_sweep_.set_Enabled(false);
    Command_signal_.set_Enabled(true);
    Command_cont_.set_Enabled(true);
  }
}

void Sweep::Command_cont_Click() {
  Command_signal_.set_Enabled(false);
  Command_cont_.set_Enabled(false);
  Command_signal_Click();
}

void Sweep::Command_stop_Click() { Command_cont_.set_Enabled(true); }

}  // namespace talmir880
