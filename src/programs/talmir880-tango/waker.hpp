#pragma once

// Wakes the core's thread from Tango's threads: an eventfd the core's Qt
// loop watches. Waking writes a counter and touches nothing else, so what
// is handed over stays behind the face's own mutex, never inside a Qt
// event another thread may still hold.

#include <QSocketNotifier>
#include <functional>

namespace talmir880::programs {

class Waker {
 public:
  // On the core's thread; `woken` runs there after each wake().
  explicit Waker(std::function<void()> woken);
  ~Waker();
  Waker(const Waker&) = delete;
  Waker& operator=(const Waker&) = delete;

  // Any thread.
  void wake() const;

 private:
  int fd_;
  QSocketNotifier notifier_;
  std::function<void()> woken_;
};

}  // namespace talmir880::programs
