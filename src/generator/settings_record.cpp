#include "generator/settings_record.hpp"

#include <algorithm>
#include <limits>

#include "protocol/settings.hpp"

namespace talmir880 {

Settings SettingsRecord::with_device(bool unsure_is_on) const {
  const Held& h = device_.held();
  const auto on = [unsure_is_on](Switched output) {
    return output == Switched::on || (unsure_is_on && output == Switched::unsure);
  };
  Settings s;
  static_cast<Own&>(s) = own_;
  s.output_on = on(h.rf);
  s.modulation_on = on(h.modulation);
  s.plain = h.plain;
  return s;
}

void SettingsRecord::settle(const Change& change) {
  Settings s = acknowledged();
  if (change) change(s);
  own_ = s;
}

void SettingsRecord::device_took(Fact fact, Face by) {
  const Held& h = device_.held();
  if (fact == Fact::rf && h.rf == Switched::on) {
    own_.frequency_hz = h.rf_hz;
    if (by == Face::panel) own_.sweep_mode = false;
  } else if (fact == Fact::modulation && h.modulation == Switched::on) {
    own_.lf_frequency_hz = h.modulation_hz;
  }
}

void SettingsRecord::panel_pass_began(const Pass& pass) {
  own_.start_hz = pass.start_hz;
  own_.stop_hz = pass.start_hz + pass.step_hz * std::max(pass.points - 1, 0);
  own_.points = pass.points;
  own_.sweep_mode = true;
}

void SettingsRecord::stop_repeating() {
  own_.continuous = false;
  programmed_.continuous = false;
}

double setting_value(const Settings& s, const protocol::Setting& setting) {
  namespace p = protocol;
  if (p::is_plain(setting)) {
    const std::size_t slot = p::plain_slot(setting);
    return slot < s.plain.size() ? s.plain[slot] : std::numeric_limits<double>::quiet_NaN();
  }
  const std::string_view name = setting.name;
  if (name == p::kRfFrequency.name) return s.frequency_hz;
  if (name == p::kRfOutput.name) return s.output_on ? 1 : 0;
  if (name == p::kModulationFrequency.name) return s.lf_frequency_hz;
  if (name == p::kModulationOutput.name) return s.modulation_on ? 1 : 0;
  if (name == p::kSweepStart.name) return s.start_hz;
  if (name == p::kSweepStop.name) return s.stop_hz;
  if (name == p::kSweepCentre.name) return (s.start_hz + s.stop_hz) / 2;
  if (name == p::kSweepSpan.name) return s.stop_hz - s.start_hz;
  if (name == p::kSweepPoints.name) return s.points;
  if (name == p::kTuningStep.name) return s.step_hz;
  // CW or SWEep, the first and the third of "CW|FIXed|SWEep".
  if (name == p::kSweepMode.name) return s.sweep_mode ? 2 : 0;
  if (name == p::kContinuous.name) return s.continuous ? 1 : 0;
  return std::numeric_limits<double>::quiet_NaN();
}

}  // namespace talmir880
