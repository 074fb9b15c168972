// The safe state: RF and modulation off when asked, when the last client
// has gone, or when no line came for too long.
#include <optional>
#include <string>
#include <utility>

#include "scpi/instrument.hpp"

namespace talmir880::scpi {

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
  if (generator_.telling_written())
    citing.emplace(generator_, Origin{{}, "switch-off: " + std::string(off_reason(because))});
  generator_.abort();
  generator_.queue_switch_off(kNoClient);
  citing.reset();
  if (auto then = std::move(off_then_)) generator_.when_done(generator_.last(), std::move(then));
  off_then_ = nullptr;
}

}  // namespace talmir880::scpi
