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

Generator::Generator(SharedLine& line, DeviceSession::Countdowns countdowns, StatusBoard& statuses)
    : line_(line), statuses_(statuses), session_(line.remote(), countdowns) {
  wire_session();
  session_.may_write = [&line] { return line.free_for_remote(); };
  session_.exchange_over = [&line] { line.remote_exchange_ended(); };
  line.line_freed = [this] { advance(); };
  line.observe(*this);
  programmed_ = acknowledged();
  kept_ = programmed_;
}

Generator::~Generator() {
  line_.forget(*this);
  line_.line_freed = nullptr;
}

void Generator::wire_session() {
  // Its -240 stands, but what the device holds is what the queries answer.
  session_.late_acknowledged = [this] {
    if (!late_change_) return;
    settle(late_change_);
    reprogram();
  };
  session_.settled = [this] {
    late_change_ = nullptr;
    advance();
  };
  session_.pass_ended = [this](DeviceFault fault) {
    line_.remote_pass_ended();
    our_pass_ended(fault);
  };
  session_.port_lost = [this](DeviceFault fault) { report_to_all(fault); };
  session_.reachability_changed = [this](DeviceFault fault) {
    if (reachability_changed) reachability_changed(fault);
  };
}

Settings Generator::acknowledged() const {
  Settings s = kept_;
  const Held& h = line_.state().held();
  s.output_on = h.rf_on && !rf_counted_off_;
  s.modulation_on = h.modulation_on && !modulation_counted_off_;
  s.power_dbm = h.level_dbm;
  return s;
}

void Generator::settle(const Change& change) {
  Settings s = acknowledged();
  if (change) change(s);
  kept_ = s;
}

// The programmed settings are what the device took with what is still
// queued applied again.
void Generator::reprogram(Changer by) {
  programmed_ = acknowledged();
  for (const Entry& e : queue_) {
    if (e.change) e.change(programmed_);
  }
  told_settings(by);
}

void Generator::told_settings(Changer by) {
  if (settings_changed) settings_changed(by);
}

bool Generator::panel_passing() const {
  const std::optional<Pass>& pass = line_.state().pass();
  return pass && pass->by == Face::panel;
}

// The device took a command. Ours are done in their turn; the panel's
// show at once, and tuning by hand is CW.
void Generator::held_changed(Fact fact, Face by, bool) {
  const Held& h = line_.state().held();
  // The frequencies the device was last tuned to are the ones a switch-on
  // sends again, whoever tuned it.
  if (fact == Fact::rf) {
    if (h.rf_on) kept_.frequency_hz = h.rf_hz;
    rf_counted_off_ = false;
  } else if (fact == Fact::modulation) {
    if (h.modulation_on) kept_.lf_frequency_hz = h.modulation_hz;
    modulation_counted_off_ = false;
  }
  if (by != Face::panel) return;
  if (fact == Fact::rf && h.rf_on) kept_.sweep_mode = false;
  reprogram(Changer::panel);
}

// The panel's last point is the stop a SCPI sweep of these points has.
void Generator::pass_began(const Pass& pass) {
  if (pass.by != Face::panel) return;
  kept_.start_hz = pass.start_hz;
  kept_.stop_hz = pass.start_hz + pass.step_hz * std::max(pass.points - 1, 0);
  kept_.points = pass.points;
  kept_.sweep_mode = true;
  panel_pass_ticket_ = next_ticket_++;
  statuses_.set_operation(Status::kSweeping, true);
  reprogram(Changer::panel);
}

void Generator::pass_ended(Face by) {
  if (by != Face::panel) return;
  if (!session_.pass_running()) statuses_.set_operation(Status::kSweeping, false);
  run_waiters();
  if (changed) changed();
}

// A device that went and came back may have been switched off or reset in
// between: the line counts its output and modulation off, and no
// repetition goes on.
void Generator::port_changed(PortState, bool came_back) {
  if (!came_back) return;
  rf_counted_off_ = false;
  modulation_counted_off_ = false;
  kept_.continuous = false;
  reprogram();
}

void Generator::lock(ClientId client) {
  const bool was = locked();
  locked_by_ = client;
  if (!was && lockout_changed) lockout_changed(true);
}

void Generator::unlock() {
  if (!locked()) return;
  locked_by_.reset();
  if (lockout_changed) lockout_changed(false);
}

void Generator::client_left(ClientId client) {
  if (locked_by_ == client) unlock();
}

Generator::Ticket Generator::enqueue(ClientId client, Entry::Kind kind, Make make, Change change) {
  const Ticket ticket = next_ticket_++;
  if (change) change(programmed_);
  queue_.push_back({ticket,
                    client,
                    kind,
                    std::move(make),
                    std::move(change),
                    {},
                    false,
                    written ? origin : Origin{}});
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

// A pass retunes the device across its span: it is RF on, and only a
// command that switched the output on may lead to one.
void Generator::refuse_pass_while_off() const {
  if (!programmed_.output_on) throw Refused{kSettingsConflict, "output off"};
}

void Generator::initiate(ClientId client) {
  if (pass_queued() || (programmed_.continuous && programmed_.sweep_mode)) {
    throw Refused{kInitIgnored};
  }
  refuse_pass_while_off();
  if (!programmed_.sweep_mode) throw Refused{kSettingsConflict};
  sweep_command(programmed_);  // refused now rather than in its turn
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
  if (programmed_.continuous && programmed_.sweep_mode && programmed_.output_on && !pass_queued()) {
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
  // is another's.
  while (!queue_.empty() && session_.idle() &&
         (queue_.front().kind == Entry::Kind::keep || session_.line_free()) && start_front()) {
  }
  advancing_ = false;
}

// Starts the first entry; true when it is already done and the next may go.
bool Generator::start_front() {
  Entry& e = queue_.front();
  switch (e.kind) {
    case Entry::Kind::keep:
      settle(e.change);
      complete_front();
      return true;
    case Entry::Kind::command: {
      // Reached first: a device that comes back now counts as off, and the
      // command is made from that.
      session_.reach();
      e.sent = e.make(acknowledged());
      if (e.sent.empty()) {  // nothing to tell the device now: a kept value
        settle(e.change);
        complete_front();
        return true;
      }
      const DeviceFault fault = session_.send(e.sent, [this](DeviceFault result) {
        command_ended(result);
        advance();
      });
      if (fault == DeviceFault::none) {
        if (written) written(e.sent, e.origin);
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
  // been done by now, and nothing after it counts yet.
  DeviceFault fault = DeviceFault::none;
  session_.reach();
  const Settings now = acknowledged();
  try {
    if (!now.output_on) throw Refused{kSettingsConflict, "output off"};
    const std::string command = sweep_command(now);
    fault = session_.start_pass(command, static_cast<std::size_t>(now.points));
    if (fault == DeviceFault::none && written) written(command, e.origin);
  } catch (const Refused& refused) {
    statuses_.report(e.client, refused.code, refused.detail);
    stop_repeating();
    complete_front();
    return true;
  }
  if (fault == DeviceFault::none) {
    statuses_.set_operation(Status::kSweeping, true);
    if (pass_started) pass_started(now.points, now.continuous);
    return false;
  }
  report(e.client, fault);
  stop_repeating();
  complete_front();
  return true;
}

void Generator::command_ended(DeviceFault fault) {
  if (fault == DeviceFault::none) {
    settle(queue_.front().change);
    statuses_.set_questionable(Status::kNotAnswering, false);
  } else {
    Entry& failed = queue_.front();
    report(failed.client, fault);
    const bool rf_off = failed.sent == protocol::kRfOff;
    const bool modulation_off = failed.sent == protocol::kModulationOff;
    if (rf_off || modulation_off) settle(failed.change);
    rf_counted_off_ = rf_counted_off_ || rf_off;
    modulation_counted_off_ = modulation_counted_off_ || modulation_off;
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
  // The next pass of a repetition comes from the line that began it.
  Origin outside = std::exchange(origin, std::move(queue_.front().origin));
  complete_front();
  repeat_if_continuous(client);
  origin = std::move(outside);
  if (!pass_queued() && pass_finished) pass_finished();
  advance();
}

void Generator::complete_front() {
  queue_.pop_front();
  run_waiters();
  if (changed) changed();
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
  programmed_.continuous = false;
  kept_.continuous = false;
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
