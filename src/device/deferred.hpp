#pragma once

#include <deque>
#include <exception>
#include <functional>
#include <vector>

namespace talmir880 {

// What a room tells the room above it waits until the call that caused it
// has returned: it is posted here and delivered, in the order posted, when
// the outermost call from outside into the rooms (a Door: a port's event,
// a timer, a client's line, the panel's write) ends. No code is re-entered
// from below while it runs, so none needs to guard against it. Posted while
// no door is open, an event is delivered at once.
//
// One per program, as its event loop is: the rooms run on one thread.
class Deferred {
 public:
  static Deferred& here();

  // `owner` is who posted it; forget(owner) when it goes.
  void post(const void* owner, std::function<void()> event);
  void forget(const void* owner);

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

  class Door {
   public:
    explicit Door(Deferred& deferred = here()) : deferred_(deferred) { ++deferred_.open_; }
    // Not while an exception leaves the call: what was posted waits for the
    // next door.
    ~Door() noexcept(false) {
      if (--deferred_.open_ == 0 && std::uncaught_exceptions() == unwinding_) deferred_.drain();
    }
    Door(const Door&) = delete;
    Door& operator=(const Door&) = delete;

   private:
    Deferred& deferred_;
    int unwinding_ = std::uncaught_exceptions();
  };

  // An event loop run inside a call (a message box): what was posted before
  // it is delivered now, and the calls it delivers come from outside.
  class Loop {
   public:
    explicit Loop(Deferred& deferred = here());
    ~Loop() { deferred_.open_ = outside_; }
    Loop(const Loop&) = delete;
    Loop& operator=(const Loop&) = delete;

   private:
    Deferred& deferred_;
    int outside_;
  };

 private:
  struct Event {
    const void* owner;
    std::function<void()> run;
  };
  void drain();

  std::deque<Event> events_;
  int open_ = 0;
};

}  // namespace talmir880
