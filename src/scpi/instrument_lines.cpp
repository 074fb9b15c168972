// A client's line run unit by unit, and its answers handed back.
#include <utility>

#include "scpi/command_log.hpp"
#include "scpi/instrument.hpp"
#include "scpi/parser.hpp"

namespace talmir880::scpi {

void Instrument::start_line(ClientId id, Client& c) {
  Line line = std::move(c.lines.front());
  c.lines.pop_front();
  c.running = std::make_unique<Running>();
  Running& r = *c.running;
  r.line = std::move(line.text);
  // Cited once for all the commands it causes, however long it is.
  if (generator_.telling_written()) r.cited = cited_line(r.line);
  if (line.overrun) {
    statuses_.report(id, kInputBufferOverrun);
  } else {
    r.units = split_units(r.line);
  }
}

void Instrument::run_unit(ClientId client, Running& r) {
  std::optional<Generator::Citing> citing;
  if (generator_.telling_written()) {
    const Client* c = find(client);
    citing.emplace(generator_, Origin{c != nullptr ? c->who : std::string(), r.cited});
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

void Instrument::finish_line(ClientId id, Client& c) {
  std::string answers = std::move(c.running->answers);
  c.running.reset();
  if (c.events == nullptr) return;
  if (!answers.empty()) {
    Deferred::here().post(this, [this, id, answers = std::move(answers)]() mutable {
      if (ClientEvents* events = events_of(id)) events->answer(std::move(answers));
    });
  }
  Deferred::here().post(this, [this, id] {
    if (ClientEvents* events = events_of(id)) events->room();
  });
}

}  // namespace talmir880::scpi
