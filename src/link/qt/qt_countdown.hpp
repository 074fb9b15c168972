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
  // How long is asked afresh at each start: a time that follows the line's
  // speed, which its owner may change.
  QtCountdown(std::function<std::chrono::milliseconds()> after, std::function<void()> expired);

  void start() override {
    if (after_) timer_.setInterval(after_());
    timer_.start();
  }
  void stop() override { timer_.stop(); }
  bool running() const override { return timer_.isActive(); }

 private:
  QTimer timer_;
  std::function<std::chrono::milliseconds()> after_;
};

}  // namespace talmir880
