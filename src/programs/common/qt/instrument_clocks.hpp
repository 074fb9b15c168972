#pragma once

#include <chrono>
#include <functional>

#include "device/device_session.hpp"
#include "link/qt/qt_countdown.hpp"
#include "scpi/instrument.hpp"

namespace talmir880::programs {

// The instrument's countdowns on QTimers: the watchdog, the stalled pass,
// the quiet line after a pass (`quiet_time`, asked at each start), the
// absent port's next try, and the next turn of a long run of work (at the
// loop's next pass). They reach the instrument through `instrument`
// only from the event loop, by which time it exists.
class InstrumentClocks {
 public:
  InstrumentClocks(std::function<std::chrono::milliseconds()> quiet_time,
                   std::function<scpi::Instrument&()> instrument);
  InstrumentClocks(const InstrumentClocks&) = delete;
  InstrumentClocks& operator=(const InstrumentClocks&) = delete;

  DeviceSession::Countdowns countdowns() { return {watchdog_, stall_, quiet_, reopen_}; }
  // For Instrument::take_turns.
  Countdown& next_turn() { return next_turn_; }

 private:
  std::function<scpi::Instrument&()> instrument_;
  QtCountdown watchdog_;
  QtCountdown stall_;
  QtCountdown quiet_;
  QtCountdown reopen_;
  QtCountdown next_turn_;
};

}  // namespace talmir880::programs
