#pragma once

// Avahi's main-loop interface on Qt's event loop, so that libavahi-client
// needs no thread and no loop of its own: a watch is a QSocketNotifier for
// each direction, a timeout a single-shot QTimer.

#include <QObject>
#include <memory>

struct AvahiPoll;

namespace talmir880::mdns {

class QtAvahiPoll {
 public:
  QtAvahiPoll();
  // After every client that used it has been freed.
  ~QtAvahiPoll();
  QtAvahiPoll(const QtAvahiPoll&) = delete;
  QtAvahiPoll& operator=(const QtAvahiPoll&) = delete;

  const AvahiPoll* api() const { return api_.get(); }

 private:
  // Parent of the notifiers and timers: Avahi may free a watch or a timeout
  // from inside its own callback, so the object is only deleted later, and
  // at the latest with this.
  QObject owner_;
  std::unique_ptr<AvahiPoll> api_;
};

}  // namespace talmir880::mdns
