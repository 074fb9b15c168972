#pragma once

#include <chrono>
#include <functional>

#include <QTimer>

#include "link/countdown.hpp"

namespace talmir880 {

// A Countdown on a single-shot QTimer, for programs without a window: when
// it runs out it calls `expired` from the event loop.
class QtCountdown final : public Countdown {
 public:
  QtCountdown(std::chrono::milliseconds after, std::function<void()> expired);

  void start() override { timer_.start(); }
  void stop() override { timer_.stop(); }
  bool running() const override { return timer_.isActive(); }

 private:
  QTimer timer_;
};

}  // namespace talmir880
