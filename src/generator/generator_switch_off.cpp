// The switch-offs: why the instrument switches off on its own, the two
// commands that do it, and those the line owes the device.
#include <string>

#include "generator/generator.hpp"

namespace talmir880 {

std::string_view off_reason(OffBecause why) {
  switch (why) {
    case OffBecause::asked:
      return "the server stops";
    case OffBecause::unused:
      return "the last client has gone";
    case OffBecause::unattended:
      return "no command for too long";
    case OffBecause::reached:
      return "the server takes over the generator";
    case OffBecause::back:
      return "the device is back";
    case OffBecause::rf_unanswered:
    case OffBecause::modulation_unanswered:
      return "a switch-off went unanswered";
  }
  return {};
}

std::string off_said(OffBecause why) {
  const std::string_view what = why == OffBecause::rf_unanswered ? "RF off again: "
                                : why == OffBecause::modulation_unanswered
                                    ? "modulation off again: "
                                    : "RF and modulation off: ";
  return std::string(what) + std::string(off_reason(why));
}

OffBecause off_because(const Owed& owed, Fact output) {
  switch (owed.why) {
    case Owed::Why::back:
      return OffBecause::back;
    case Owed::Why::unanswered:
      return output == Fact::rf ? OffBecause::rf_unanswered : OffBecause::modulation_unanswered;
    case Owed::Why::nothing:
    case Owed::Why::reached:
      break;
  }
  return OffBecause::reached;
}

Generator::Ticket Generator::queue_switch_off(ClientId client) {
  send(
      client, [](const Settings&) { return std::string(protocol::kRfOff); },
      [](Settings& s) { s.output_on = false; });
  return send(
      client, [](const Settings&) { return std::string(protocol::kModulationOff); },
      [](Settings& s) { s.modulation_on = false; });
}

void Generator::switch_off_when_reached(bool on) {
  session_.switch_off_when_reached(on);
  advance();
}

bool Generator::pay_off(Entry* ahead_of) {
  const bool alone = ahead_of == nullptr;
  // By itself each output in turn, so that one a silent device never
  // acknowledges does not keep the other's from being written.
  if (alone && !session_.owed_off(true, tried_alone_)) tried_alone_ = {};
  const OffsTried tried = alone ? tried_alone_ : ahead_of->offs_ahead;
  if (!session_.line_free() || !session_.owed_off(alone, tried)) return false;
  // Opening the port may change what is owed, and why.
  if (session_.reach() != DeviceFault::none) return false;
  const std::optional<Fact> output = session_.owed_off(alone, tried);
  if (!output) return false;
  const OffBecause why = off_because(line_.state().owed(*output), *output);
  const std::string command(*output == Fact::rf ? protocol::kRfOff : protocol::kModulationOff);
  const DeviceFault fault = session_.send(command, [this](DeviceFault result) {
    statuses_.set_questionable(Status::kNotAnswering, result != DeviceFault::none);
    if (result == DeviceFault::none && !session_.owed_off(false)) told_off_.reset();
    advance();
  });
  if (fault != DeviceFault::none) return false;
  OffsTried& now_tried = alone ? tried_alone_ : ahead_of->offs_ahead;
  (*output == Fact::rf ? now_tried.rf : now_tried.modulation) = true;
  if (why != told_off_) {
    told_off_ = why;
    tell([why](GeneratorEvents& e) { e.paying_off(why); });
  }
  told_written(command, {{}, "switch-off: " + std::string(off_reason(why))});
  return true;
}

}  // namespace talmir880
