#pragma once

#include <functional>

#include "link/countdown.hpp"
#include "support/deliver.hpp"

namespace talmir880::testing {

// A countdown the test runs out by hand: no clock, no real time.
class ManualCountdown : public Countdown {
 public:
  void start() override {
    running_ = true;
    ++starts;
  }
  void stop() override { running_ = false; }
  bool running() const override { return running_; }

  // Time is up: the owner hears of it if the countdown was running, as from
  // a one-shot timer.
  void run_out() {
    if (!running_) return;
    running_ = false;
    if (ran_out) ran_out();
    deliver();
  }

  std::function<void()> ran_out;
  int starts = 0;

 private:
  bool running_ = false;
};

}  // namespace talmir880::testing
