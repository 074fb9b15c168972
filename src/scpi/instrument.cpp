#include "scpi/instrument.hpp"

#include <utility>

#include "scpi/parser.hpp"

namespace talmir880::scpi {

Instrument::Instrument(SerialPort& port, Countdown& watchdog, Countdown& stall)
    : generator_(port, watchdog, stall, status_) {
  generator_.changed = [this] { pump(); };
}

void Instrument::submit(ClientId client, std::string line) {
  if (backlog(client) >= kMaxBacklog) {
    status_.report(kInputBufferOverrun);
    return;
  }
  ++backlog_[client];
  waiting_.push_back({client, std::move(line), false});
  pump();
}

void Instrument::overrun(ClientId client) {
  if (backlog(client) >= kMaxBacklog) {
    status_.report(kInputBufferOverrun);
    return;
  }
  ++backlog_[client];
  waiting_.push_back({client, {}, true});
  pump();
}

void Instrument::forget(ClientId client) {
  std::erase_if(waiting_, [client](const Waiting& w) { return w.client == client; });
  backlog_.erase(client);
  if (running_ && running_->client == client) running_->forgotten = true;
  pump();
}

std::size_t Instrument::backlog(ClientId client) const {
  const auto at = backlog_.find(client);
  return at == backlog_.end() ? 0 : at->second;
}

void Instrument::watchdog_ran_out() { generator_.watchdog_ran_out(); }

void Instrument::stall_ran_out() { generator_.stall_ran_out(); }

bool Instrument::idle() const { return !running_ && waiting_.empty() && !generator_.exchanging(); }

// Runs what can run now. Reentered from an answer or room callback (a
// transport that submits at once) it leaves the work to the loop already
// running.
void Instrument::pump() {
  if (pumping_) return;
  pumping_ = true;
  // Also when a callback throws: the next event must find the loop free.
  struct Done {
    bool& pumping;
    ~Done() { pumping = false; }
  } done{pumping_};
  while (!generator_.exchanging()) {
    if (running_) {
      Running& r = *running_;
      if (r.forgotten || r.next == r.units.size()) {
        finish_line();
      } else if (r.held && generator_.pass_running()) {
        break;
      } else {
        run_unit();
      }
    } else if (generator_.next_pass_due()) {
      generator_.start_next_pass();
    } else if (!waiting_.empty()) {
      start_line();
    } else {
      break;
    }
  }
}

void Instrument::start_line() {
  Waiting w = std::move(waiting_.front());
  waiting_.pop_front();
  // Running{}, not emplace(): clang 14 takes a nested struct with member
  // initialisers for not default-constructible here.
  Running& r = running_.emplace(Running{});
  r.client = w.client;
  r.line = std::move(w.line);
  if (w.overrun) {
    status_.report(kInputBufferOverrun);
  } else {
    r.units = split_units(r.line);
  }
}

void Instrument::run_unit() {
  Running& r = *running_;
  const HeaderPath before = r.path;
  r.held = false;
  try {
    const ProgramUnit unit = parse_unit(r.units[r.next]);
    const Command command = r.path.resolve(unit);
    if (generator_.run(command, unit, r.answers) == Step::held) {
      // The same unit runs again from the same place.
      r.path = before;
      r.held = true;
      return;
    }
    ++r.next;
  } catch (const Refused& refused) {
    status_.report(refused.code);
    const bool command_error = refused.code <= -100 && refused.code > -200;
    r.next = command_error ? r.units.size() : r.next + 1;
  }
}

void Instrument::finish_line() {
  const ClientId client = running_->client;
  const bool forgotten = running_->forgotten;
  std::string answers = std::move(running_->answers);
  running_.reset();
  if (forgotten) return;
  if (const auto at = backlog_.find(client); at != backlog_.end() && --at->second == 0) {
    backlog_.erase(at);
  }
  if (!answers.empty() && answer) answer(client, std::move(answers));
  if (room) room(client);
}

}  // namespace talmir880::scpi
