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

Generator::Generator(SerialPort& port, DeviceSession::Countdowns countdowns, StatusBoard& statuses)
    : statuses_(statuses), session_(port, countdowns) {
  wire_session();
}

Generator::Generator(SharedLine& line, DeviceSession::Countdowns countdowns, StatusBoard& statuses)
    : statuses_(statuses), session_(line.remote(), countdowns) {
  wire_session();
  session_.may_write = [&line] { return line.free_for_remote(); };
  session_.exchange_over = [&line] { line.remote_exchange_ended(); };
  line.line_freed = [this] { advance(); };
  line.panel_took = [this](std::string_view command) { panel_took(command); };
  line.panel_pass_started = [this](std::string_view command) { panel_pass_began(command); };
  line.panel_pass_ended = [this] { panel_pass_over(); };
}

void Generator::wire_session() {
  // Its -240 stands, but what the device holds is what the queries answer.
  session_.late_acknowledged = [this] {
    if (!late_change_) return;
    late_change_(acknowledged_);
    reprogram();
  };
  session_.settled = [this] {
    late_change_ = nullptr;
    advance();
  };
  session_.pass_ended = [this](DeviceFault fault) { pass_ended(fault); };
  session_.port_lost = [this] { report_to_all(DeviceFault::device_gone); };
  session_.reachability_changed = [this](DeviceFault fault) {
    if (fault == DeviceFault::none && gone_) came_back();
    // The panel's closed port is no sign of what the device holds.
    gone_ = gone_ || (unreachable(fault) && fault != DeviceFault::port_closed);
    if (reachability_changed) reachability_changed(fault);
  };
  session_.pass_progress = [this](std::size_t seen, std::size_t expected) {
    if (pass_progress) pass_progress(seen, expected);
  };
}

// The programmed settings are what the device took with what is still
// queued applied again.
void Generator::reprogram() {
  programmed_ = acknowledged_;
  for (const Entry& e : queue_) {
    if (e.change) e.change(programmed_);
  }
  told_settings();
}

// A device that went and came back may have been switched off or reset in
// between, and cannot be asked: as at start, the output and the modulation
// count as off, and no repetition goes on.
void Generator::came_back() {
  gone_ = false;
  acknowledged_.output_on = false;
  acknowledged_.modulation_on = false;
  acknowledged_.continuous = false;
  reprogram();
}

void Generator::told_settings(Changer by) {
  if (settings_changed) settings_changed(by);
}

// What the panel did, once the device took it, as the queries answer it.
void Generator::panel_took(std::string_view command) {
  const std::optional<protocol::Decoded> d = protocol::decode(command);
  if (!d) return;
  auto change = [&d](Settings& s) {
    using Kind = protocol::Decoded::Kind;
    switch (d->kind) {
      case Kind::rf:
        s.frequency_hz = d->hz;
        s.output_on = true;
        s.sweep_mode = false;
        break;
      case Kind::rf_off:
        s.output_on = false;
        break;
      case Kind::modulation:
        s.lf_frequency_hz = d->hz;
        s.modulation_on = true;
        break;
      case Kind::modulation_off:
        s.modulation_on = false;
        break;
      case Kind::level:
        s.power_dbm = d->level_dbm;
        break;
      case Kind::save:
        break;
      case Kind::sweep:
        // The panel's last point is the stop a SCPI sweep of these points has.
        s.start_hz = d->hz;
        s.stop_hz = d->hz + d->step_hz * std::max(d->points - 1, 0);
        s.points = d->points;
        s.sweep_mode = true;
        break;
    }
  };
  change(acknowledged_);
  change(programmed_);
  told_settings(Changer::panel);
}

void Generator::panel_pass_began(std::string_view command) {
  panel_took(command);  // a sweep has no R: it is taken as it starts
  if (panel_pass_) return;
  panel_pass_ = next_ticket_++;
  statuses_.set_operation(Status::kSweeping, true);
}

void Generator::panel_pass_over() {
  if (!panel_pass_) return;
  panel_pass_.reset();
  if (!session_.pass_running()) statuses_.set_operation(Status::kSweeping, false);
  run_waiters();
  if (changed) changed();
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
      if (e.change) e.change(acknowledged_);
      complete_front();
      return true;
    case Entry::Kind::command: {
      // Reached first: a device that comes back now counts as off, and the
      // command is made from that.
      session_.reach();
      e.sent = e.make(acknowledged_);
      if (e.sent.empty()) {  // nothing to tell the device now: a kept value
        if (e.change) e.change(acknowledged_);
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
  try {
    if (!acknowledged_.output_on) throw Refused{kSettingsConflict, "output off"};
    const std::string command = sweep_command(acknowledged_);
    fault = session_.start_pass(command, static_cast<std::size_t>(acknowledged_.points));
    if (fault == DeviceFault::none && written) written(command, e.origin);
  } catch (const Refused& refused) {
    statuses_.report(e.client, refused.code, refused.detail);
    stop_repeating();
    complete_front();
    return true;
  }
  if (fault == DeviceFault::none) {
    statuses_.set_operation(Status::kSweeping, true);
    if (pass_started) pass_started(acknowledged_.points, acknowledged_.continuous);
    return false;
  }
  report(e.client, fault);
  stop_repeating();
  complete_front();
  return true;
}

void Generator::command_ended(DeviceFault fault) {
  if (fault == DeviceFault::none) {
    if (const Change& change = queue_.front().change) change(acknowledged_);
    statuses_.set_questionable(Status::kNotAnswering, false);
  } else {
    Entry& failed = queue_.front();
    report(failed.client, fault);
    const bool switch_off =
        failed.sent == protocol::kRfOff || failed.sent == protocol::kModulationOff;
    if (switch_off && failed.change) failed.change(acknowledged_);
    // Its late R, if one comes while the line waits for it, still counts.
    if (fault == DeviceFault::no_acknowledge) late_change_ = std::move(failed.change);
    failed.change = nullptr;
    reprogram();
  }
  complete_front();
}

void Generator::pass_ended(DeviceFault fault) {
  statuses_.set_operation(Status::kSweeping, panel_pass_.has_value());
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
  acknowledged_.continuous = false;
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
