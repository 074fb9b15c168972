#include "toolkit/manual_clock.hpp"

#include <limits>

namespace talmir880 {

namespace {
constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
}

void ManualClock::attach(Timer& timer) {
  entries_.push_back({&timer, timer.Enabled() ? now_ + timer.Interval() : kNever});
  std::size_t slot = entries_.size() - 1;
  timer.on_change([this, slot] {
    Entry& e = entries_[slot];
    e.due = e.timer->Enabled() ? now_ + e.timer->Interval() : kNever;
  });
}

void ManualClock::advance(std::int64_t ms) {
  const std::int64_t until = now_ + ms;
  for (;;) {
    Entry* next = nullptr;
    for (Entry& e : entries_) {
      if (e.due <= until && (next == nullptr || e.due < next->due)) next = &e;
    }
    if (next == nullptr) break;
    now_ = next->due;
    next->due = now_ + next->timer->Interval();
    next->timer->tick();
  }
  now_ = until;
}

}  // namespace talmir880
