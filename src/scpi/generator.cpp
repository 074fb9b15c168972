#include "scpi/generator.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace talmir880::scpi {

std::string sweep_command(const Settings& s) {
  if (!(s.stop_hz > s.start_hz)) throw Refused{kSettingsConflict};
  const double step_hz = (s.stop_hz - s.start_hz) / (s.points - 1);
  // The step field rounds to 10 Hz: a step of 0 sweeps nowhere, and a wider
  // one would push the points out of their place in the command.
  const double field_hz = protocol::sweep_step_sent(step_hz);
  if (field_hz <= 0 || field_hz > protocol::kMaxSweepStepHz) throw Refused{kSettingsConflict};
  return protocol::sweep(s.start_hz, step_hz, s.points);
}

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

Generator::Generator(SharedLine& line, DeviceSession::Countdowns countdowns, StatusBoard& statuses,
                     GeneratorEvents& events)
    : line_(line),
      statuses_(statuses),
      events_(events),
      session_(line, countdowns, *this),
      record_(line.state()) {
  line.add_listener(*this);
  line.observe(*this);
  note_certainty();
}

Generator::~Generator() {
  line_.forget(*this);
  line_.remove_listener(*this);
}

// Its -240 stands, but what the device holds is what the queries answer.
void Generator::late_acknowledged() {
  statuses_.set_questionable(Status::kNotAnswering, false);
  if (!late_change_) return;
  record_.settle(late_change_);
  reprogram();
}

void Generator::settled() {
  late_change_ = nullptr;
  advance();
}

void Generator::reprogram(Changer by) {
  record_.reprogram([this](const auto& program) {
    for (const Entry& e : queue_) program(e.change);
  });
  told_settings(by);
}

void Generator::switch_off_when_reached(bool on) {
  session_.switch_off_when_reached(on);
  advance();
}

void Generator::note_certainty() {
  const Held& h = line_.state().held();
  statuses_.set_questionable(Status::kNotConfirmed,
                             h.rf == Switched::unsure || h.modulation == Switched::unsure);
}

void Generator::told_settings(Changer by) { events_.settings_changed(by); }

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
  events_.changed();
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

void Generator::lock(ClientId client) {
  const bool was = locked();
  locked_by_ = client;
  if (!was) events_.lockout_changed(true);
}

void Generator::unlock() {
  if (!locked()) return;
  locked_by_.reset();
  events_.lockout_changed(false);
}

void Generator::client_left(ClientId client) {
  if (locked_by_ == client) unlock();
}

Generator::Ticket Generator::enqueue(ClientId client, Entry::Kind kind, Make make, Change change) {
  const Ticket ticket = next_ticket_++;
  record_.program(change);
  queue_.push_back(
      {ticket, client, kind, std::move(make), std::move(change), {}, false, origin_, {}});
  if (kind != Entry::Kind::pass) told_settings();
  advance();
  return ticket;
}

Generator::Ticket Generator::send(ClientId client, Make make, Change change) {
  return enqueue(client, Entry::Kind::command, std::move(make), std::move(change));
}

void Generator::keep(ClientId client, Change change) {
  enqueue(client, Entry::Kind::keep, {}, std::move(change));
}

Generator::Ticket Generator::queue_switch_off(ClientId client) {
  send(
      client, [](const Settings&) { return std::string(protocol::kRfOff); },
      [](Settings& s) { s.output_on = false; });
  return send(
      client, [](const Settings&) { return std::string(protocol::kModulationOff); },
      [](Settings& s) { s.modulation_on = false; });
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

void Generator::when_done(Ticket ticket, std::function<void()> then) {
  if (done(ticket)) {
    then();
  } else {
    waiting_.emplace_back(ticket, std::move(then));
  }
}

bool Generator::reachable(ClientId client) {
  const DeviceFault fault = session_.reach();
  report(client, fault);
  return fault == DeviceFault::none;
}

void Generator::advance() {
  // Reentered from a callback of its own (a change, a completion): the loop
  // already running goes on with it.
  if (advancing_) return;
  advancing_ = true;
  // A kept value needs no line; a command or a pass waits while the line
  // is another's, and goes after what the line owes the device.
  while (session_.idle()) {
    if (queue_.empty()) {
      pay_off(nullptr);
      break;
    }
    // Made in its turn, from what the device is known to hold, which a
    // switch-off paid ahead of it leaves as it was; a command that has
    // nothing to tell the device owes it nothing either.
    Entry& front = queue_.front();
    if (front.kind == Entry::Kind::command) front.sent = front.make(record_.known());
    const bool writes = front.kind == Entry::Kind::pass || !front.sent.empty();
    if (writes && (!session_.line_free() || pay_off(&front) || !session_.idle())) break;
    if (!start_front()) break;
  }
  advancing_ = false;
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
    events_.paying_off(why);
  }
  events_.written(command, {{}, "switch-off: " + std::string(off_reason(why))});
  return true;
}

// Starts the first entry (a command as advance() made it); true when it is
// already done and the next may go.
bool Generator::start_front() {
  Entry& e = queue_.front();
  switch (e.kind) {
    case Entry::Kind::keep:
      record_.settle(e.change);
      complete_front();
      return true;
    case Entry::Kind::command: {
      if (e.sent.empty()) {  // nothing to tell the device now: a kept value
        record_.settle(e.change);
        complete_front();
        return true;
      }
      const DeviceFault fault = session_.send(e.sent, [this](DeviceFault result) {
        command_ended(result);
        advance();
      });
      if (fault == DeviceFault::none) {
        events_.written(e.sent, e.origin);
        return false;
      }
      command_ended(fault);
      return true;
    }
    case Entry::Kind::pass:
      break;
  }
  if (e.cancelled) {
    complete_front();
    return true;
  }
  // From the acknowledged settings: everything queued before the pass has
  // been done by now, and nothing after it counts yet. A device away is
  // the first thing to say.
  DeviceFault fault = session_.reach();
  const Settings now = record_.known();
  if (fault == DeviceFault::none) {
    try {
      if (!now.output_on) {
        const bool unsure = line_.state().held().rf == Switched::unsure;
        throw Refused{kSettingsConflict, unsure ? "output not confirmed" : "output off"};
      }
      const std::string command = sweep_command(now);
      fault = session_.start_pass(command);
      if (fault == DeviceFault::none) events_.written(command, e.origin);
    } catch (const Refused& refused) {
      statuses_.report(e.client, refused.code, refused.detail);
      stop_repeating();
      complete_front();
      return true;
    }
  }
  if (fault == DeviceFault::none) {
    statuses_.set_operation(Status::kSweeping, true);
    events_.pass_started(now.points, now.continuous);
    return false;
  }
  report(e.client, fault);
  stop_repeating();
  complete_front();
  return true;
}

void Generator::command_ended(DeviceFault fault) {
  if (fault == DeviceFault::none) {
    record_.settle(queue_.front().change);
    statuses_.set_questionable(Status::kNotAnswering, false);
  } else {
    Entry& failed = queue_.front();
    report(failed.client, fault);
    // Its late R, if one comes while the line waits for it, still counts.
    if (fault == DeviceFault::no_acknowledge) late_change_ = std::move(failed.change);
    failed.change = nullptr;
    reprogram();
  }
  complete_front();
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
  if (!pass_queued()) events_.pass_finished();
  advance();
}

void Generator::complete_front() {
  queue_.pop_front();
  run_waiters();
  events_.changed();
}

void Generator::run_waiters() {
  // Taken out first: a waiter may queue more.
  std::vector<std::function<void()>> due;
  std::erase_if(waiting_, [&](auto& w) {
    if (!done(w.first)) return false;
    due.push_back(std::move(w.second));
    return true;
  });
  for (auto& then : due) then();
}

void Generator::stop_repeating() {
  record_.stop_repeating();
  told_settings();
}

namespace {

// Reached but not answering, or not reached at all.
int error_of(DeviceFault fault) { return unreachable(fault) ? kHardwareMissing : kHardwareError; }

}  // namespace

void Generator::report(ClientId client, DeviceFault fault) {
  if (fault == DeviceFault::none) return;
  statuses_.set_questionable(Status::kNotAnswering, true);
  statuses_.report(client, error_of(fault), cause(fault));
}

void Generator::report_to_all(DeviceFault fault) {
  statuses_.set_questionable(Status::kNotAnswering, true);
  statuses_.report_all(error_of(fault), cause(fault));
}

}  // namespace talmir880::scpi
