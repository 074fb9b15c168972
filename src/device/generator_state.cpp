#include "device/generator_state.hpp"

#include <algorithm>

namespace talmir880 {

// The one reading of a command as what the device then holds.
void GeneratorState::acknowledged(std::string_view command, Face by, bool overtaken) {
  const std::optional<protocol::Decoded> d = protocol::decode(command);
  if (!d) return;
  using Kind = protocol::Decoded::Kind;
  Fact fact = Fact::rf;
  switch (d->kind) {
    case Kind::rf:
      held_.rf_hz = d->hz;
      held_.rf_on = true;
      break;
    case Kind::rf_off:
      held_.rf_on = false;
      break;
    case Kind::modulation:
      held_.modulation_hz = d->hz;
      held_.modulation_on = true;
      fact = Fact::modulation;
      break;
    case Kind::modulation_off:
      held_.modulation_on = false;
      fact = Fact::modulation;
      break;
    case Kind::level:
      held_.level_dbm = d->level_dbm;
      fact = Fact::level;
      break;
    case Kind::save:
      held_.saved = d->mode;
      fact = Fact::saved;
      break;
    case Kind::sweep:
      return;  // a pass has no R; it is on record from its start
  }
  for (GeneratorObserver* o : observers_) o->held_changed(fact, by, overtaken);
}

void GeneratorState::pass_began(std::string_view command, Face by) {
  const std::optional<protocol::Decoded> d = protocol::decode(command);
  if (!d || d->kind != protocol::Decoded::Kind::sweep) return;
  const std::size_t points = static_cast<std::size_t>(std::max(d->points, 0));
  pass_ = Pass{by, d->hz, d->step_hz, d->points, 0, points * protocol::kCharsPerSweepPoint};
  for (GeneratorObserver* o : observers_) o->pass_began(*pass_);
}

void GeneratorState::pass_reported(std::size_t characters) {
  if (!pass_ || characters == 0) return;
  pass_->seen += characters;
  for (GeneratorObserver* o : observers_) o->pass_progressed(*pass_);
}

void GeneratorState::pass_ended() {
  if (!pass_) return;
  const Face by = pass_->by;
  pass_.reset();
  for (GeneratorObserver* o : observers_) o->pass_ended(by);
}

void GeneratorState::port_opened() { set_port(PortState::open); }

// A port closed after it failed stays failed: the device was away all the same.
void GeneratorState::port_closed() {
  if (port_ == PortState::open) set_port(PortState::closed);
}

void GeneratorState::port_failed(bool while_open) {
  set_port(while_open ? PortState::gone : PortState::absent);
}

void GeneratorState::set_port(PortState now) {
  if (now == port_) return;
  const bool came_back =
      now == PortState::open && (port_ == PortState::gone || port_ == PortState::absent);
  port_ = now;
  // A device that was away may have been switched off or reset meanwhile,
  // and cannot be asked.
  if (came_back) {
    held_.rf_on = false;
    held_.modulation_on = false;
  }
  for (GeneratorObserver* o : observers_) o->port_changed(now, came_back);
}

}  // namespace talmir880
