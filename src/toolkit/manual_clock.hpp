#pragma once

#include <cstdint>
#include <vector>

#include "toolkit/controls.hpp"

namespace talmir880 {

// Drives Timers by hand: tests and benchmarks advance time and the due ticks
// fire in order, with no sleeping and no real time.
class ManualClock {
 public:
  void attach(Timer& timer);
  void advance(std::int64_t ms);
  std::int64_t now() const { return now_; }

 private:
  struct Entry {
    Timer* timer;
    std::int64_t due;
  };
  std::vector<Entry> entries_;
  std::int64_t now_ = 0;
};

}  // namespace talmir880
