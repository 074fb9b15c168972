#pragma once

#include <functional>

#include "device/generator_state.hpp"
#include "protocol/commands.hpp"
#include "protocol/settings.hpp"

namespace talmir880 {

// The instrument's own values, which the device cannot hold: the
// frequencies a switch-on sends, the sweep, the mode, the step of FREQ UP
// and DOWN.
struct Own {
  double frequency_hz = protocol::kStartUp.rf_hz;  // a whole number of 10 Hz
  double lf_frequency_hz = protocol::kStartUp.modulation_hz;
  double start_hz = protocol::kStartUp.sweep_start_hz;
  double stop_hz = protocol::kStartUp.sweep_end_hz;
  int points = protocol::kStartUp.sweep_points;
  bool sweep_mode = false;  // CW otherwise
  bool continuous = false;
  double step_hz = protocol::kStartUp.step_hz;
};

// What the queries answer: the instrument's own values, and the device's
// part, in which an output that may be on counts as on.
struct Settings : Own {
  bool output_on = false;
  bool modulation_on = false;
  protocol::PlainValues plain = protocol::kPlainStartUp;  // the level, ...
};

// The settings the instrument holds for its clients. The acknowledged ones
// are the device's part as the line's record has it, beside the
// instrument's own values as done in their turn; the programmed ones, which
// the queries answer, are those with every change still queued applied.
class SettingsRecord {
 public:
  using Change = std::function<void(Settings&)>;

  explicit SettingsRecord(const GeneratorState& device) : device_(device) {
    programmed_ = acknowledged();
  }

  const Settings& programmed() const { return programmed_; }
  // The acknowledged settings, an output that may be on counting as on.
  Settings acknowledged() const { return with_device(true); }
  // The same with only an output known to be on counting as on: commands
  // are made from these, so that none but a switch-on turns an output on
  // that may be off.
  Settings known() const { return with_device(false); }

  // A change accepted: it applies to the programmed settings at once.
  void program(const Change& change) {
    if (change) change(programmed_);
  }
  // A change done in its turn: its part of the instrument's own is kept.
  void settle(const Change& change);
  // The programmed settings anew: the acknowledged ones with the changes
  // still queued (each called with a Change) applied again.
  template <class EachQueued>
  void reprogram(EachQueued each_queued) {
    programmed_ = acknowledged();
    each_queued([this](const Change& change) { program(change); });
  }

  // The device took a command: the frequency it was tuned to is the one a
  // switch-on sends again, whoever tuned it; tuning by hand is CW.
  void device_took(Fact fact, Face by);
  // The panel's pass is the sweep: its last point is the stop of a SCPI
  // sweep of its points.
  void panel_pass_began(const Pass& pass);
  // Passes no longer repeat, queued changes or not.
  void stop_repeating();

 private:
  Settings with_device(bool unsure_is_on) const;

  const GeneratorState& device_;
  Own own_;
  Settings programmed_;
};

// A described setting's value in these settings, in its own unit: a switch
// 1 or 0, a mode the place of its word among its choices. NaN for a setting
// they keep no field for.
double setting_value(const Settings& settings, const protocol::Setting& setting);

}  // namespace talmir880
