// What the line's record of the device says, mirrored in the settings: what
// the device took from the panel or from anyone, the panel's passes, the port.
#include "generator/generator.hpp"

namespace talmir880 {

bool Generator::panel_passing() const {
  const std::optional<Pass>& pass = line_.state().pass();
  return pass && pass->by == Face::panel;
}

// The device took a command: the panel's, one of ours in its turn, or one
// whose R came late or that no client asked for. What it holds shows at once.
void Generator::held_changed(Fact fact, Face by, bool) {
  record_.device_took(fact, by);
  note_certainty();
  reprogram(by == Face::panel ? Changer::panel : Changer::other);
}

// What the queries answer of it changes: it counts as on now.
void Generator::became_unsure(Fact) {
  note_certainty();
  reprogram();
}

void Generator::pass_began(const Pass& pass) {
  if (pass.by != Face::panel) return;
  record_.panel_pass_began(pass);
  panel_pass_ticket_ = next_ticket_++;
  statuses_.set_operation(Status::kSweeping, true);
  reprogram(Changer::panel);
}

void Generator::pass_ended(Face by) {
  if (by != Face::panel) return;
  if (!session_.pass_running()) statuses_.set_operation(Status::kSweeping, false);
  run_waiters();
  tell([](GeneratorEvents& e) { e.changed(); });
}

// No repetition goes on over a device that went away. A port opened may
// owe a switch-off that goes by itself.
void Generator::port_changed(PortState port) {
  if (port == PortState::gone || port == PortState::absent) {
    stop_repeating();
  } else if (port == PortState::open) {
    advance();
  }
}

}  // namespace talmir880
