#pragma once

#include <QObject>
#include <chrono>
#include <functional>

#include "device/device_session.hpp"
#include "link/qt/qt_countdown.hpp"
#include "scpi/instrument.hpp"

namespace talmir880::programs {

// A countdown that runs out at the event loop's next pass: a call posted to
// the loop, cheaper than a zero timer, for the instrument's next turn.
class NextPass final : public Countdown {
 public:
  explicit NextPass(std::function<void()> expired) : expired_(std::move(expired)) {}
  void start() override;
  void stop() override { running_ = false; }
  bool running() const override { return running_; }

 private:
  std::function<void()> expired_;
  bool running_ = false;
  bool posted_ = false;
  QObject context_;  // last: a call posted for it goes with it
};

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
  NextPass next_turn_;
};

}  // namespace talmir880::programs
