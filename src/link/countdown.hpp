#pragma once

#include <chrono>

namespace talmir880 {

// The watchdog's clock: a one-shot countdown. start() begins it afresh, also
// while it runs, so the latest command gets its full time; stop() ends it
// unfired. Its owner runs it (a QTimer, a window's timer control, or a test's
// hand) and calls Link::watchdog_ran_out when it runs out.
class Countdown {
 public:
  virtual ~Countdown() = default;
  virtual void start() = 0;
  virtual void stop() = 0;
  virtual bool running() const = 0;
};

// How long the device has to acknowledge a command.
inline constexpr std::chrono::milliseconds kAcknowledgeTimeout{500};

}  // namespace talmir880
