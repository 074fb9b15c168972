#include "scpi/settings_record.hpp"

#include <algorithm>

namespace talmir880::scpi {

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

}  // namespace talmir880::scpi
