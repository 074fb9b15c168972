#include "device/deferred.hpp"

#include <utility>

namespace talmir880 {

Deferred& Deferred::here() {
  static Deferred deferred;
  return deferred;
}

void Deferred::post(const void* owner, std::function<void()> event) {
  events_.push_back({owner, std::move(event)});
  if (open_ == 0) drain();
}

void Deferred::forget(const void* owner) {
  std::erase_if(events_, [owner](const Event& e) { return e.owner == owner; });
}

// Delivering holds the door open: what the events post waits its turn.
void Deferred::drain() {
  ++open_;
  struct Close {
    int& open;
    ~Close() { --open; }
  } close{open_};
  while (!events_.empty()) {
    const std::function<void()> run = std::move(events_.front().run);
    events_.pop_front();
    run();
  }
}

Deferred::Loop::Loop(Deferred& deferred) : deferred_(deferred), outside_(deferred.open_) {
  deferred_.open_ = 0;
  if (!deferred_.events_.empty()) deferred_.drain();
}

}  // namespace talmir880
