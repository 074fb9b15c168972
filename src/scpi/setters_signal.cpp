// The setters of the signal: the RF frequency and output, and the
// modulation.
#include <cmath>
#include <string>

#include "protocol/commands.hpp"
#include "scpi/setters.hpp"

namespace talmir880::scpi::setters {

void set_frequency(Call& c) {
  const Settings& s = c.settings();
  double hz = c.value.number;
  if (c.value.step != 0) {
    hz = s.frequency_hz + c.value.step * s.step_hz;
    if (!(hz >= kMinCwFrequencyHz && hz <= kMaxFrequencyHz)) throw Refused{kDataOutOfRange};
  }
  // The device runs at whole 10 Hz: "$F" drops the 1-Hz digit.
  const double taken = std::floor(hz / protocol::kRfUnitHz) * protocol::kRfUnitHz;
  auto change = [taken](Settings& t) { t.frequency_hz = taken; };
  // Kept for later while the output is off or the mode is a sweep; that is
  // decided again in the command's turn, by what the device took by then.
  if (s.output_on && !s.sweep_mode) {
    c.device(
        [hz](const Settings& a) {
          return a.output_on && !a.sweep_mode ? protocol::rf_frequency(hz) : std::string();
        },
        change);
  } else {
    c.keep(change);
  }
}

void set_output(Call& c) {
  const bool on = c.value.number != 0;
  // Passes are RF on: the running one ends on its own, then the RF goes off.
  if (!on) c.generator.abort(c.client);
  c.device(
      [on](const Settings& a) {
        return on ? protocol::rf_frequency(a.frequency_hz) : std::string(protocol::kRfOff);
      },
      [on](Settings& t) { t.output_on = on; });
}

void set_lf_frequency(Call& c) {
  const double hz = c.value.number;
  auto change = [hz](Settings& t) { t.lf_frequency_hz = hz; };
  if (c.settings().modulation_on) {
    c.device(
        [hz](const Settings& a) {
          return a.modulation_on ? protocol::modulation_frequency(hz) : std::string();
        },
        change);
  } else {
    c.keep(change);
  }
}

void set_modulation(Call& c) {
  const bool on = c.value.number != 0;
  c.device(
      [on](const Settings& a) {
        return on ? protocol::modulation_frequency(a.lf_frequency_hz)
                  : std::string(protocol::kModulationOff);
      },
      [on](Settings& t) { t.modulation_on = on; });
}

}  // namespace talmir880::scpi::setters
