#include "app/served_panel.hpp"

namespace talmir880 {

ServedPanel::ServedPanel(Form1& form, DeviceSession::Countdowns countdowns)
    : form_(form),
      instrument_(form.device_line, countdowns),
      start_hz_(instrument_.settings().start_hz),
      stop_hz_(instrument_.settings().stop_hz),
      points_(instrument_.settings().points) {
  instrument_.observe(*this);
  form_.sweep_stopped = [this] { instrument_.abort(); };
}

// The hand's own sweep has written its fields by the panel's rules, which
// the server's reading of the same bytes (a last point, not an end) must
// not overwrite.
void ServedPanel::settings_changed(Generator::Changer by) {
  const bool by_panel = by == Generator::Changer::panel;
  const Settings& s = instrument_.settings();
  if (s.start_hz == start_hz_ && s.stop_hz == stop_hz_ && s.points == points_) return;
  start_hz_ = s.start_hz;
  stop_hz_ = s.stop_hz;
  points_ = s.points;
  if (!by_panel) form_.show_sweep_fields(start_hz_, stop_hz_, points_);
}

void ServedPanel::pass_started(int, bool repeating) { form_.show_pass(repeating); }

void ServedPanel::sweep_ended() { form_.show_sweep_end(); }

void ServedPanel::lockout_changed(bool locked) { form_.lock_controls(locked); }

}  // namespace talmir880
