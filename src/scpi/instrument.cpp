#include "scpi/instrument.hpp"

#include <utility>

#include "scpi/command_log.hpp"
#include "scpi/parser.hpp"

namespace talmir880::scpi {

Instrument::Instrument(SerialPort& port, DeviceSession::Countdowns countdowns)
    : own_line_(std::make_unique<SharedLine>(port, SharedLine::Owner::remote)),
      generator_(*own_line_, countdowns, statuses_, *this) {}

Instrument::Instrument(SharedLine& line, DeviceSession::Countdowns countdowns)
    : generator_(line, countdowns, statuses_, *this) {}

void Instrument::written(std::string_view command, const Origin& origin) {
  if (log_) log_(origin.who.empty() ? "server" : origin.who, command, origin.line);
}

void Instrument::reachability_changed(DeviceFault fault) {
  tell([fault](InstrumentEvents& e) { e.reachability_changed(fault); });
}

void Instrument::settings_changed(Changer by) {
  tell([by](InstrumentEvents& e) { e.settings_changed(by); });
}

void Instrument::pass_started(int points, bool repeating) {
  tell([points, repeating](InstrumentEvents& e) { e.pass_started(points, repeating); });
}

void Instrument::pass_finished() {
  tell([](InstrumentEvents& e) { e.sweep_ended(); });
}

void Instrument::lockout_changed(bool locked) {
  tell([locked](InstrumentEvents& e) { e.lockout_changed(locked); });
}

void Instrument::paying_off(OffBecause why) {
  tell([why](InstrumentEvents& e) { e.switching_off(why); });
}

Instrument::Client* Instrument::find(ClientId client) {
  const auto at = clients_.find(client);
  return at == clients_.end() ? nullptr : &at->second;
}

std::optional<ClientId> Instrument::attach(ClientEvents& events, std::string who) {
  std::size_t attached = 0;
  std::size_t left_behind = 0;
  for (const auto& [id, c] : clients_) {
    // A client that can send nothing more holds no place: its lines still
    // run and are answered, counted with those of clients that left.
    if (c.events != nullptr && !c.ended) {
      ++attached;
    } else {
      left_behind += c.lines.size() + (c.running ? 1 : 0);
    }
  }
  // Clients that left still have their lines run; a stream of clients that
  // send and leave must not grow that without bound.
  if (attached >= kMaxClients || left_behind >= kMaxClients * kMaxBacklog) return std::nullopt;
  const ClientId id = next_id_++;
  clients_.emplace(id, Client{&events, std::move(who), {}, nullptr});
  statuses_.add(id);
  if (off_ == Off::unused) off_ = Off::none;
  return id;
}

void Instrument::submit(ClientId client, std::string line) {
  Client* c = find(client);
  if (c == nullptr || c->events == nullptr || c->ended) return;
  if (backlog(client) >= kMaxBacklog) {
    statuses_.report(client, kInputBufferOverrun);
    return;
  }
  c->lines.push_back({std::move(line), false});
  if (safety_.idle != nullptr) safety_.idle->start();
  lines_since_off_ = true;
  if (off_ == Off::idle) off_ = Off::none;
  pump();
}

void Instrument::overrun(ClientId client) {
  Client* c = find(client);
  if (c == nullptr || c->events == nullptr || c->ended) return;
  if (backlog(client) >= kMaxBacklog) {
    statuses_.report(client, kInputBufferOverrun);
    return;
  }
  c->lines.push_back({{}, true});
  pump();
}

void Instrument::end_of_input(ClientId client) {
  if (Client* c = find(client)) c->ended = true;
  pump();
}

void Instrument::detach(ClientId client) {
  if (Client* c = find(client)) {
    c->events = nullptr;
    c->ended = true;
  }
  generator_.client_left(client);
  if (safety_.when_unused && lines_since_off_ && attached() == 0 && off_ == Off::none) {
    off_ = Off::unused;
  }
  pump();
}

std::size_t Instrument::backlog(ClientId client) const {
  const auto at = clients_.find(client);
  if (at == clients_.end()) return 0;
  return at->second.lines.size() + (at->second.running ? 1 : 0);
}

void Instrument::clear(ClientId client) {
  if (Client* c = find(client)) c->lines.clear();
  if (Status* status = statuses_.find(client)) status->clear();
  pump();
}

std::optional<ClientId> Instrument::renew(ClientId client, ClientEvents& events) {
  const Status* old = statuses_.find(client);
  if (old == nullptr) return std::nullopt;
  const Status kept = *old;
  const Client* was = find(client);
  const std::optional<ClientId> fresh = attach(events, was != nullptr ? was->who : std::string());
  if (!fresh) return std::nullopt;
  Status& status = *statuses_.find(*fresh);
  status.set_event_enable(kept.event_enable());
  status.set_service_enable(kept.service_enable());
  status.operation.set_enable(kept.operation.enable());
  status.questionable.set_enable(kept.questionable.enable());
  detach(client);
  return fresh;
}

int Instrument::status_byte(ClientId client) {
  const Status* status = statuses_.find(client);
  return status == nullptr ? 0 : status->status_byte(false);
}

bool Instrument::error_seen(ClientId client) {
  const Status* status = statuses_.find(client);
  return status != nullptr && status->any_error();
}

bool Instrument::idle() const { return lines_done() && off_ == Off::none && generator_.idle(); }

bool Instrument::lines_done() const {
  for (const auto& [id, c] : clients_) {
    if (c.running || !c.lines.empty()) return false;
  }
  return true;
}

std::size_t Instrument::attached() const {
  std::size_t n = 0;
  for (const auto& [id, c] : clients_) n += c.events != nullptr ? 1 : 0;
  return n;
}

void Instrument::switch_off(std::function<void()> then) {
  off_ = Off::asked;
  off_then_ = std::move(then);
  pump();
}

void Instrument::idle_ran_out() {
  const Settings& s = generator_.settings();
  if (off_ == Off::none && (s.output_on || s.modulation_on || generator_.pass_queued())) {
    off_ = Off::idle;
  }
  pump();
}

// In the generator's queue after everything the lines asked for, so that
// nothing received before it can switch the output on again afterwards.
void Instrument::switch_off_if_due() {
  if (off_ == Off::none || !lines_done()) return;
  const Off why = off_;
  off_ = Off::none;
  lines_since_off_ = false;
  const OffBecause because = why == Off::asked    ? OffBecause::asked
                             : why == Off::unused ? OffBecause::unused
                                                  : OffBecause::unattended;
  if (why != Off::asked) tell([because](InstrumentEvents& e) { e.switching_off(because); });
  std::optional<Generator::Citing> citing;
  if (log_)
    citing.emplace(generator_,
                   Generator::Origin{{}, "switch-off: " + std::string(off_reason(because))});
  generator_.abort();
  generator_.queue_switch_off(kNoClient);
  citing.reset();
  if (auto then = std::move(off_then_)) generator_.when_done(generator_.last(), std::move(then));
  off_then_ = nullptr;
}

std::vector<std::string> Instrument::take_errors(ClientId client, bool events) {
  std::vector<std::string> out;
  Status* status = statuses_.find(client);
  while (status != nullptr && status->queued() > 0) {
    const bool event = status->next_is_event();
    std::string error = status->next_error();
    if (events || !event) out.push_back(std::move(error));
  }
  return out;
}

// Runs what can run now, client by client, until nothing moves. Reentered
// from a callback (an answer, an acknowledgement that came at once) it
// leaves the work to the loop already running.
void Instrument::pump() {
  if (pumping_) return;
  pumping_ = true;
  // Also when a callback throws: the next event must find the loop free.
  struct Done {
    bool& pumping;
    ~Done() { pumping = false; }
  } done{pumping_};
  turn_units_ = 0;
  for (bool moved = true; moved && !turn_over();) {
    moved = false;
    for (auto at = clients_.begin(); at != clients_.end();) {
      Client& c = at->second;
      pass_units_ = 0;
      moved = step(at->first, c) || moved;
      const bool spent = c.events == nullptr && c.lines.empty() && !c.running;
      if (spent) statuses_.remove(at->first);
      at = spent ? clients_.erase(at) : std::next(at);
    }
    if (off_ != Off::none && lines_done()) {
      switch_off_if_due();
      moved = true;
    }
  }
  if (turn_over()) next_turn_->start();
}

bool Instrument::turn_over() const { return next_turn_ != nullptr && turn_units_ >= kUnitsPerTurn; }

bool Instrument::step(ClientId id, Client& c) {
  bool moved = false;
  for (;;) {
    if (c.running) {
      Running& r = *c.running;
      if (r.wait != 0) {
        if (!generator_.done(r.wait)) break;
        r.wait = 0;
      }
      if (r.next == r.units.size()) {
        finish_line(c);
      } else if (next_turn_ != nullptr &&
                 (pass_units_ >= kUnitsPerPass || turn_units_ >= kUnitsPerTurn)) {
        break;  // the next client's pass, or the next turn
      } else {
        ++pass_units_;
        ++turn_units_;
        run_unit(id, r);
      }
    } else if (!c.lines.empty()) {
      start_line(id, c);
    } else {
      if (c.ended && !c.told_finished && c.events != nullptr) {
        c.told_finished = true;
        c.events->finished();
        moved = true;
      }
      break;
    }
    moved = true;
  }
  return moved;
}

void Instrument::start_line(ClientId id, Client& c) {
  Line line = std::move(c.lines.front());
  c.lines.pop_front();
  c.running = std::make_unique<Running>();
  Running& r = *c.running;
  r.line = std::move(line.text);
  // Cited once for all the commands it causes, however long it is.
  if (log_) r.cited = cited_line(r.line);
  if (line.overrun) {
    statuses_.report(id, kInputBufferOverrun);
  } else {
    r.units = split_units(r.line);
  }
}

void Instrument::log_commands(CommandLog log) { log_ = std::move(log); }

void Instrument::run_unit(ClientId client, Running& r) {
  std::optional<Generator::Citing> citing;
  if (log_) {
    const Client* c = find(client);
    citing.emplace(generator_, Generator::Origin{c != nullptr ? c->who : std::string(), r.cited});
  }
  Call call(generator_, client, r.answers);
  try {
    const ProgramUnit unit = parse_unit(r.units[r.next]);
    r.path.run(unit, call);
    ++r.next;
  } catch (const Refused& refused) {
    statuses_.report(client, refused.code, refused.detail);
    const bool command_error = refused.code <= -100 && refused.code > -200;
    r.next = command_error ? r.units.size() : r.next + 1;
  }
  r.wait = call.wait;
}

void Instrument::finish_line(Client& c) {
  std::string answers = std::move(c.running->answers);
  c.running.reset();
  if (c.events == nullptr) return;
  if (!answers.empty()) c.events->answer(std::move(answers));
  // The answer may have detached it.
  if (c.events != nullptr) c.events->room();
}

}  // namespace talmir880::scpi
