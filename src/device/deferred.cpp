#include "device/deferred.hpp"

#include <utility>

namespace talmir880 {

Deferred& Deferred::here() {
  static Deferred deferred;
  return deferred;
}

void Deferred::post(const void* owner, std::function<void()> event) {
  events_.push_back({owner, std::move(event)});
  wake();
}

void Deferred::set_loop(Loop* loop) {
  loop_ = loop;
  woken_ = false;
  if (waiting()) wake();
}

void Deferred::wake() {
  if (loop_ == nullptr || woken_) return;
  woken_ = true;
  loop_->wake();
}

void Deferred::forget(const void* owner) {
  std::erase_if(events_, [owner](const Event& e) { return e.owner == owner; });
}

// What an event posts wakes the loop again: should the event run a loop of
// its own (a box), that loop delivers it.
void Deferred::deliver() {
  woken_ = false;
  while (!events_.empty()) {
    const std::function<void()> run = std::move(events_.front().run);
    events_.pop_front();
    run();
  }
}

}  // namespace talmir880
