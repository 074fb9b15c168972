// Work in turns: client by client, each for a pass of units, a turn at a time.
#include <iterator>

#include "scpi/instrument.hpp"

namespace talmir880::scpi {

// Runs what can run now, client by client, until nothing moves.
void Instrument::pump() {
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
        finish_line(id, c);
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
        Deferred::here().post(this, [this, id] {
          if (ClientEvents* events = events_of(id)) events->finished();
        });
        moved = true;
      }
      break;
    }
    moved = true;
  }
  return moved;
}

}  // namespace talmir880::scpi
