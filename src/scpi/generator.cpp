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
  const double field_hz = std::round(step_hz / protocol::kRfUnitHz) * protocol::kRfUnitHz;
  if (field_hz <= 0 || field_hz > protocol::kMaxSweepStepHz) throw Refused{kSettingsConflict};
  return protocol::sweep(s.start_hz, step_hz, s.points);
}

Generator::Generator(SerialPort& port, DeviceSession::Countdowns countdowns, Status& status)
    : status_(status), session_(port, countdowns) {
  session_.pass_ended = [this](DeviceFault fault) { pass_ended(fault); };
  session_.port_lost = [this] { report(DeviceFault::device_gone); };
  session_.reachability_changed = [this](DeviceFault fault) {
    if (reachability_changed) reachability_changed(fault);
  };
}

Generator::Ticket Generator::enqueue(Entry::Kind kind, std::string command, Change change) {
  const Ticket ticket = next_ticket_++;
  if (change) change(programmed_);
  queue_.push_back({ticket, kind, std::move(command), std::move(change)});
  advance();
  return ticket;
}

Generator::Ticket Generator::send(std::string command, Change change) {
  return enqueue(Entry::Kind::command, std::move(command), std::move(change));
}

void Generator::keep(Change change) { enqueue(Entry::Kind::keep, {}, std::move(change)); }

void Generator::initiate() {
  if (pass_queued() || (programmed_.continuous && programmed_.sweep_mode)) {
    throw Refused{kInitIgnored};
  }
  if (!programmed_.sweep_mode) throw Refused{kSettingsConflict};
  sweep_command(programmed_);  // refused now rather than in its turn
  enqueue(Entry::Kind::pass, {}, {});
}

void Generator::abort() {
  for (Entry& e : queue_) {
    if (e.kind == Entry::Kind::pass && !(session_.pass_running() && &e == &queue_.front())) {
      e.cancelled = true;
    }
  }
  keep([](Settings& s) { s.continuous = false; });
}

void Generator::repeat_if_continuous() {
  if (programmed_.continuous && programmed_.sweep_mode && !pass_queued()) {
    enqueue(Entry::Kind::pass, {}, {});
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

bool Generator::reachable() {
  const DeviceFault fault = session_.reach();
  report(fault);
  return fault == DeviceFault::none;
}

void Generator::advance() {
  // Reentered from a callback of its own (a change, a completion): the loop
  // already running goes on with it.
  if (advancing_) return;
  advancing_ = true;
  while (!queue_.empty() && session_.idle() && start_front()) {
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
      const DeviceFault fault = session_.send(e.command, [this](DeviceFault result) {
        command_ended(result);
        advance();
      });
      if (fault == DeviceFault::none) return false;
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
  try {
    const std::string command = sweep_command(acknowledged_);
    fault = session_.start_pass(command, static_cast<std::size_t>(acknowledged_.points));
  } catch (const Refused& refused) {
    status_.report(refused.code);
    stop_repeating();
    complete_front();
    return true;
  }
  if (fault == DeviceFault::none) {
    status_.operation.set_condition(Status::kSweeping, true);
    return false;
  }
  report(fault);
  stop_repeating();
  complete_front();
  return true;
}

void Generator::command_ended(DeviceFault fault) {
  if (fault == DeviceFault::none) {
    if (const Change& change = queue_.front().change) change(acknowledged_);
    status_.questionable.set_condition(Status::kNotAnswering, false);
  } else {
    report(fault);
    queue_.front().change = nullptr;
    programmed_ = acknowledged_;
    for (const Entry& e : queue_) {
      if (e.change) e.change(programmed_);
    }
  }
  complete_front();
}

void Generator::pass_ended(DeviceFault fault) {
  status_.operation.set_condition(Status::kSweeping, false);
  if (fault == DeviceFault::none) {
    status_.questionable.set_condition(Status::kNotAnswering, false);
  } else {
    report(fault);
    stop_repeating();
  }
  complete_front();
  repeat_if_continuous();
  advance();
}

void Generator::complete_front() {
  done_through_ = queue_.front().ticket;
  queue_.pop_front();
  // Taken out first: a waiter may queue more.
  std::vector<std::function<void()>> due;
  std::erase_if(waiting_, [&](auto& w) {
    if (!done(w.first)) return false;
    due.push_back(std::move(w.second));
    return true;
  });
  for (auto& then : due) then();
  if (changed) changed();
}

void Generator::stop_repeating() {
  programmed_.continuous = false;
  acknowledged_.continuous = false;
}

void Generator::report(DeviceFault fault) {
  if (fault != DeviceFault::none) status_.questionable.set_condition(Status::kNotAnswering, true);
  switch (fault) {
    case DeviceFault::none:
      break;
    case DeviceFault::no_acknowledge:
      status_.report(kHardwareError, "no acknowledge");
      break;
    case DeviceFault::stalled:
      status_.report(kHardwareError, "sweep stalled");
      break;
    case DeviceFault::port_busy:
      status_.report(kHardwareMissing, "port busy");
      break;
    case DeviceFault::no_such_port:
      status_.report(kHardwareMissing, "no such port");
      break;
    case DeviceFault::device_gone:
      status_.report(kHardwareMissing, "device gone");
      break;
    case DeviceFault::port_failed:
      status_.report(kHardwareMissing, "port failed");
      break;
  }
}

}  // namespace talmir880::scpi
