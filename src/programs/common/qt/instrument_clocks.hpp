#pragma once

#include <chrono>
#include <functional>

#include "device/device_session.hpp"
#include "link/qt/qt_countdown.hpp"
#include "scpi/instrument.hpp"

namespace talmir880::programs {

// The instrument's countdowns on QTimers: the watchdog, the stalled pass,
// the quiet line after a pass (`quiet_time`, asked at each start) and the
// absent port's next try. They reach the instrument through `instrument`
// only from the event loop, by which time it exists.
class InstrumentClocks {
 public:
  InstrumentClocks(std::function<std::chrono::milliseconds()> quiet_time,
                   std::function<scpi::Instrument&()> instrument);
  InstrumentClocks(const InstrumentClocks&) = delete;
  InstrumentClocks& operator=(const InstrumentClocks&) = delete;

  DeviceSession::Countdowns countdowns() { return {watchdog_, stall_, quiet_, reopen_}; }

 private:
  std::function<scpi::Instrument&()> instrument_;
  QtCountdown watchdog_;
  QtCountdown stall_;
  QtCountdown quiet_;
  QtCountdown reopen_;
};

}  // namespace talmir880::programs
