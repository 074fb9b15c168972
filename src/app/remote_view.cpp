// What the automation server made the device do, shown as the same change
// by hand would leave the window.
#include "app/form1.hpp"
#include "protocol/commands.hpp"
#include "protocol/settings.hpp"

namespace talmir880 {

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

}  // namespace talmir880
