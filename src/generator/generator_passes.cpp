// Sweep passes: queued, repeated while continuous, aborted and ended.
#include <algorithm>
#include <utility>

#include "generator/generator.hpp"

namespace talmir880 {

std::string sweep_command(const Settings& s) {
  if (!(s.stop_hz > s.start_hz)) throw Refused{kSettingsConflict};
  const double step_hz = (s.stop_hz - s.start_hz) / (s.points - 1);
  // The step field rounds to 10 Hz: a step of 0 sweeps nowhere, and a wider
  // one would push the points out of their place in the command.
  const double field_hz = protocol::sweep_step_sent(step_hz);
  if (field_hz <= 0 || field_hz > protocol::kMaxSweepStepHz) throw Refused{kSettingsConflict};
  return protocol::sweep(s.start_hz, step_hz, s.points);
}

// A pass retunes the device across its span: it is RF on, and only a
// command that switched the output on may lead to one.
void Generator::refuse_pass_while_off() const {
  if (!settings().output_on) throw Refused{kSettingsConflict, "output off"};
}

void Generator::initiate(ClientId client) {
  const Settings& s = settings();
  if (pass_queued() || (s.continuous && s.sweep_mode)) throw Refused{kInitIgnored};
  refuse_pass_while_off();
  if (!s.sweep_mode) throw Refused{kSettingsConflict};
  sweep_command(s);  // refused now rather than in its turn
  enqueue(client, Entry::Kind::pass, {}, {});
}

void Generator::abort(ClientId client) {
  for (Entry& e : queue_) {
    if (e.kind == Entry::Kind::pass && !(session_.pass_running() && &e == &queue_.front())) {
      e.cancelled = true;
    }
  }
  keep(client, [](Settings& s) { s.continuous = false; });
}

void Generator::repeat_if_continuous(ClientId client) {
  const Settings& s = settings();
  if (s.continuous && s.sweep_mode && s.output_on && !pass_queued()) {
    enqueue(client, Entry::Kind::pass, {}, {});
  }
}

bool Generator::pass_queued() const {
  return std::any_of(queue_.begin(), queue_.end(),
                     [](const Entry& e) { return e.kind == Entry::Kind::pass && !e.cancelled; });
}

void Generator::our_pass_ended(DeviceFault fault) {
  statuses_.set_operation(Status::kSweeping, panel_passing());
  if (fault == DeviceFault::none) {
    statuses_.set_questionable(Status::kNotAnswering, false);
  } else {
    report(queue_.front().client, fault);
    stop_repeating();
  }
  const ClientId client = queue_.front().client;
  {
    // The next pass of a repetition comes from the line that began it.
    const Citing citing(*this, std::move(queue_.front().origin));
    complete_front();
    repeat_if_continuous(client);
  }
  if (!pass_queued()) tell([](GeneratorEvents& e) { e.pass_finished(); });
  advance();
}

void Generator::stop_repeating() {
  record_.stop_repeating();
  told_settings();
}

}  // namespace talmir880
