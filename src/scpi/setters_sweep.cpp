// The setters of the sweep: its span, step and points, the mode, and the
// passes.
#include <cmath>
#include <string>

#include "protocol/commands.hpp"
#include "scpi/setters.hpp"

namespace talmir880::scpi::setters {

void set_start(Call& c) {
  c.keep([hz = c.value.number](Settings& t) { t.start_hz = hz; });
}
void set_stop(Call& c) {
  c.keep([hz = c.value.number](Settings& t) { t.stop_hz = hz; });
}

namespace {

// Centre and span move START and STOP; each keeps the other.
void set_start_and_stop(Call& c, double centre, double span) {
  const double start = std::round(centre - span / 2);
  const double stop = std::round(centre + span / 2);
  if (!(start >= kMinFrequencyHz && stop <= kMaxFrequencyHz)) throw Refused{kDataOutOfRange};
  c.keep([start, stop](Settings& t) {
    t.start_hz = start;
    t.stop_hz = stop;
  });
}

}  // namespace

double centre(const Settings& s) { return (s.start_hz + s.stop_hz) / 2; }
double span(const Settings& s) { return s.stop_hz - s.start_hz; }
void set_centre(Call& c) { set_start_and_stop(c, c.value.number, span(c.settings())); }
void set_span(Call& c) { set_start_and_stop(c, centre(c.settings()), c.value.number); }

void set_step(Call& c) {
  c.keep([hz = c.value.number](Settings& t) { t.step_hz = hz; });
}
void set_points(Call& c) {
  c.keep([n = static_cast<int>(c.value.number)](Settings& t) { t.points = n; });
}

void set_mode(Call& c) {
  const bool sweep = c.value.number == 2;
  const bool was_sweep = c.settings().sweep_mode;
  c.keep([sweep](Settings& t) { t.sweep_mode = sweep; });
  if (sweep) {
    c.generator.repeat_if_continuous(c.client);
  } else if (was_sweep && c.settings().output_on) {
    // A pass left the device at its last point: back to the CW frequency.
    c.device([](const Settings& a) {
      return a.output_on ? protocol::rf_frequency(a.frequency_hz) : std::string();
    });
  }
}

void set_continuous(Call& c) {
  const bool on = c.value.number != 0;
  if (on) c.generator.refuse_pass_while_off();
  c.keep([on](Settings& t) { t.continuous = on; });
  c.generator.repeat_if_continuous(c.client);
}

void initiate(Call& c) { c.generator.initiate(c.client); }
void abort(Call& c) { c.generator.abort(c.client); }

}  // namespace talmir880::scpi::setters
