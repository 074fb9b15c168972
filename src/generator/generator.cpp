// The queue: entries in the order they were accepted, each in its turn, and
// the tickets that tell when they are done.
#include "generator/generator.hpp"

#include <utility>
#include <vector>

#include "device/deferred.hpp"

namespace talmir880 {

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
  Deferred::here().forget(this);
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

void Generator::told_written(std::string_view command, const Origin& origin) {
  if (!tell_written_) return;
  tell(
      [command = std::string(command), origin](GeneratorEvents& e) { e.written(command, origin); });
}

void Generator::told_settings(Changer by) {
  tell([by](GeneratorEvents& e) { e.settings_changed(by); });
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

void Generator::when_done(Ticket ticket, std::function<void()> then) {
  if (done(ticket)) {
    then();  // nothing to wait for: an answer, not an event
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
  // A kept value needs no line; a command or a pass waits while the line
  // is another's, and goes after what the line owes the device. The session
  // is idle once we have heard how the last of ours ended.
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
        told_written(e.sent, e.origin);
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
      if (fault == DeviceFault::none) told_written(command, e.origin);
    } catch (const Refused& refused) {
      statuses_.report(e.client, refused.code, refused.detail);
      stop_repeating();
      complete_front();
      return true;
    }
  }
  if (fault == DeviceFault::none) {
    statuses_.set_operation(Status::kSweeping, true);
    tell([points = now.points, repeating = now.continuous](GeneratorEvents& events) {
      events.pass_started(points, repeating);
    });
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

void Generator::complete_front() {
  queue_.pop_front();
  run_waiters();
  tell([](GeneratorEvents& e) { e.changed(); });
}

void Generator::run_waiters() {
  std::erase_if(waiting_, [this](auto& w) {
    if (!done(w.first)) return false;
    Deferred::here().post(this, std::move(w.second));
    return true;
  });
}

}  // namespace talmir880
