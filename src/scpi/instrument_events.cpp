// The generator's events, passed on to the observers and the command log.
#include <utility>

#include "scpi/instrument.hpp"

namespace talmir880::scpi {

void Instrument::written(std::string_view command, const Origin& origin) {
  tell([who = origin.who.empty() ? std::string("server") : origin.who,
        command = std::string(command),
        line = origin.line](InstrumentEvents& e) { e.command_written(who, command, line); });
}

void Instrument::reachability_changed(DeviceFault fault) {
  tell([fault](InstrumentEvents& e) { e.reachability_changed(fault); });
}

void Instrument::settings_changed(Changer by) {
  tell([by](InstrumentEvents& e) { e.settings_changed(by); });
}

void Instrument::pass_started(int points, bool repeating) {
  tell([points, repeating](InstrumentEvents& e) { e.pass_started(points, repeating); });
}

void Instrument::pass_finished() {
  tell([](InstrumentEvents& e) { e.sweep_ended(); });
}

void Instrument::lockout_changed(bool locked) {
  tell([locked](InstrumentEvents& e) { e.lockout_changed(locked); });
}

void Instrument::paying_off(OffBecause why) {
  tell([why](InstrumentEvents& e) { e.switching_off(why); });
}

}  // namespace talmir880::scpi
