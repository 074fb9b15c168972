#pragma once

#include <deque>
#include <functional>
#include <vector>

namespace talmir880 {

// What a room tells the room above it is never heard inside the call that
// caused it: it is posted here and delivered, in the order posted, by the
// program's loop once the call from outside has returned. Tests deliver
// with one call. So no room is re-entered from below, and none guards
// against it.
//
// One per program, as its event loop is: the rooms run on one thread.
class Deferred {
 public:
  static Deferred& here();

  // `owner` is who posted it; forget(owner) when it goes.
  void post(const void* owner, std::function<void()> event);
  void forget(const void* owner);

  // Every event waiting, and those they post, in order. A box's loop run by
  // one of them delivers on from where it stands.
  void deliver();
  bool waiting() const { return !events_.empty(); }

  // The owner's hearers, each in turn, hear `call`; one may forget itself
  // (or another) meanwhile, as the list is read when it is delivered.
  template <typename Hearer, typename Call>
  void tell_each(const void* owner, const std::vector<Hearer*>& hearers, Call call) {
    post(owner, [&hearers, call] {
      for (std::size_t i = 0; i < hearers.size(); ++i) call(*hearers[i]);
    });
  }
  // The owner's one hearer.
  template <typename Hearer, typename Call>
  void tell(const void* owner, Hearer& hearer, Call call) {
    post(owner, [&hearer, call] { call(hearer); });
  }

 private:
  struct Event {
    const void* owner;
    std::function<void()> run;
  };

  std::deque<Event> events_;
};

}  // namespace talmir880
