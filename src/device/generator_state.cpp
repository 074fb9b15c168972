#include "device/generator_state.hpp"

#include <algorithm>
#include <array>
#include <utility>

#include "device/deferred.hpp"

namespace talmir880 {
namespace {

// The outputs are the described switches; a command switches or tunes the
// one whose device command it goes out in.
constexpr std::array<std::pair<const protocol::Setting*, Fact>, 2> kOutputs{
    {{&protocol::kRfOutput, Fact::rf}, {&protocol::kModulationOutput, Fact::modulation}}};
static_assert(std::ranges::all_of(kOutputs, [](const auto& output) {
  return output.first->kind == protocol::SettingKind::boolean && !output.first->device.empty();
}));

std::optional<Fact> output_of(std::string_view command) {
  for (const auto& [setting, fact] : kOutputs) {
    if (command.starts_with(setting->device)) return fact;
  }
  return std::nullopt;
}

bool switches_off(const protocol::Decoded& d) {
  return d.kind == protocol::Decoded::Kind::rf_off ||
         d.kind == protocol::Decoded::Kind::modulation_off;
}

}  // namespace

GeneratorState::~GeneratorState() { Deferred::here().forget(this); }

template <typename Call>
void GeneratorState::tell(Call call) {
  Deferred::here().tell_each(this, observers_, call);
}

// Whatever the last command for an output was, the debt it carried is
// settled by it: a switch-off pays it, or is owed again if it goes
// unanswered; a switch-on is the user's own word.
void GeneratorState::written(std::string_view command, Face by) {
  if (!protocol::decode(command)) return;
  if (const std::optional<Fact> output = output_of(command)) {
    debt(*output) = {Owed::Why::nothing, by};
  }
}

// The one reading of a command as what the device then holds.
void GeneratorState::acknowledged(std::string_view command, Face by, bool overtaken) {
  const std::optional<protocol::Decoded> d = protocol::decode(command);
  if (!d) return;
  using Kind = protocol::Decoded::Kind;
  Fact fact = Fact::rf;
  switch (d->kind) {
    case Kind::rf:
      held_.rf_hz = d->hz;
      held_.rf = Switched::on;
      break;
    case Kind::rf_off:
      held_.rf = Switched::off;
      break;
    case Kind::modulation:
      held_.modulation_hz = d->hz;
      held_.modulation = Switched::on;
      fact = Fact::modulation;
      break;
    case Kind::modulation_off:
      held_.modulation = Switched::off;
      fact = Fact::modulation;
      break;
    case Kind::level:
      held_.set(protocol::kLevel, d->level_dbm);
      fact = Fact::level;
      break;
    case Kind::save:
      held_.saved = d->mode;
      fact = Fact::saved;
      break;
    case Kind::sweep:
      return;  // a pass has no R; it is on record from its start
  }
  if (fact == Fact::rf || fact == Fact::modulation) debt(fact) = {Owed::Why::nothing, by};
  tell([fact, by, overtaken](GeneratorObserver& o) { o.held_changed(fact, by, overtaken); });
}

// The device may have taken it, or half of it, or nothing.
void GeneratorState::unanswered(std::string_view command, Face by) {
  const std::optional<protocol::Decoded> d = protocol::decode(command);
  if (!d) return;
  const std::optional<Fact> output = output_of(command);
  if (!output) return;
  // Lost with the port, what is owed is the port's: the device went.
  if (port_ == PortState::gone || port_ == PortState::absent) {
    make_unsure(*output, {Owed::Why::back});
  } else {
    make_unsure(*output, {switches_off(*d) ? Owed::Why::unanswered : Owed::Why::nothing, by});
  }
}

void GeneratorState::make_unsure(Fact output, Owed owed) {
  debt(output) = owed;
  Switched& now = switched(output);
  if (now == Switched::unsure) return;
  now = Switched::unsure;
  tell([output](GeneratorObserver& o) { o.became_unsure(output); });
}

void GeneratorState::pass_began(std::string_view command, Face by) {
  const std::optional<protocol::Decoded> d = protocol::decode(command);
  if (!d || d->kind != protocol::Decoded::Kind::sweep) return;
  const std::size_t points = static_cast<std::size_t>(std::max(d->points, 0));
  pass_ = Pass{by, d->hz, d->step_hz, d->points, 0, points * protocol::kCharsPerSweepPoint};
  tell([pass = *pass_](GeneratorObserver& o) { o.pass_began(pass); });
}

void GeneratorState::pass_reported(std::size_t characters) {
  if (!pass_ || characters == 0) return;
  pass_->seen += characters;
  // Told as it stood last, also should it end before its observers hear.
  const bool told = progress_.has_value();
  progress_ = *pass_;
  if (told) return;
  Deferred::here().post(this, [this] {
    const Pass now = *progress_;
    progress_.reset();
    for (std::size_t i = 0; i < observers_.size(); ++i) observers_[i]->pass_progressed(now);
  });
}

void GeneratorState::pass_ended() {
  if (!pass_) return;
  const Face by = pass_->by;
  pass_.reset();
  tell([by](GeneratorObserver& o) { o.pass_ended(by); });
}

void GeneratorState::port_opened() { set_port(PortState::open); }

// A port closed after it failed stays failed: the device was away all the same.
void GeneratorState::port_closed() {
  if (port_ == PortState::open) set_port(PortState::closed);
}

void GeneratorState::port_failed(bool while_open) {
  set_port(while_open ? PortState::gone : PortState::absent);
}

// Nothing the device took before a port opened, or while it was away, is
// known any more: it may have been switched on or off, reset, or gone on
// sweeping.
void GeneratorState::set_port(PortState now) {
  if (now == port_) return;
  const bool away = port_ == PortState::gone || port_ == PortState::absent;
  if (now != PortState::closed) {
    const Owed::Why why =
        reached_ && (away || now != PortState::open) ? Owed::Why::back : Owed::Why::reached;
    make_unsure(Fact::rf, {why});
    make_unsure(Fact::modulation, {why});
  }
  if (now == PortState::open) reached_ = true;
  port_ = now;
  tell([now](GeneratorObserver& o) { o.port_changed(now); });
}

}  // namespace talmir880
