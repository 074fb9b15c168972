#include "device/deferred.hpp"

#include <utility>

namespace talmir880 {

Deferred& Deferred::here() {
  static Deferred deferred;
  return deferred;
}

void Deferred::post(const void* owner, std::function<void()> event) {
  events_.push_back({owner, std::move(event)});
}

void Deferred::forget(const void* owner) {
  std::erase_if(events_, [owner](const Event& e) { return e.owner == owner; });
}

// Should an event run a loop of its own (a box), that loop delivers on.
void Deferred::deliver() {
  while (!events_.empty()) {
    const std::function<void()> run = std::move(events_.front().run);
    events_.pop_front();
    run();
  }
}

}  // namespace talmir880
