#include "mdns/qt/qt_avahi_poll.hpp"

#include <avahi-common/watch.h>
#include <sys/time.h>

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <chrono>

// Avahi declares these and leaves them to the loop that implements them.
struct AvahiWatch {
  int fd;
  AvahiWatchCallback callback;
  void* userdata;
  QSocketNotifier* read;
  QSocketNotifier* write;
  AvahiWatchEvent happened;  // while its callback runs
  bool running;
  bool freed;
};

struct AvahiTimeout {
  QTimer* timer;
  AvahiTimeoutCallback callback;
  void* userdata;
  bool running;
  bool freed;
};

namespace talmir880::mdns {
namespace {

QObject* owner_of(const AvahiPoll* api) { return static_cast<QObject*>(api->userdata); }

// Silences it and leaves it to the event loop, or to the owner, to delete.
void retire(QObject* object) {
  QObject::disconnect(object, nullptr, nullptr, nullptr);
  object->deleteLater();
}

// Off at once as well: D-Bus may have closed the descriptor already.
void retire(QSocketNotifier* notifier) {
  notifier->setEnabled(false);
  retire(static_cast<QObject*>(notifier));
}

// Runs the callback; a watch freed inside it goes once it has returned.
void dispatch(AvahiWatch* w, AvahiWatchEvent event) {
  w->happened = event;
  w->running = true;
  w->callback(w, w->fd, event, w->userdata);
  w->running = false;
  w->happened = static_cast<AvahiWatchEvent>(0);
  if (w->freed) delete w;
}

void watch_update(AvahiWatch* w, AvahiWatchEvent events) {
  w->read->setEnabled((events & AVAHI_WATCH_IN) != 0);
  w->write->setEnabled((events & AVAHI_WATCH_OUT) != 0);
}

AvahiWatch* watch_new(const AvahiPoll* api, int fd, AvahiWatchEvent events,
                      AvahiWatchCallback callback, void* userdata) {
  auto* w = new AvahiWatch{fd,
                           callback,
                           userdata,
                           new QSocketNotifier(fd, QSocketNotifier::Read, owner_of(api)),
                           new QSocketNotifier(fd, QSocketNotifier::Write, owner_of(api)),
                           static_cast<AvahiWatchEvent>(0),
                           false,
                           false};
  // A hang-up or an error wakes the reader, which then reads the end.
  QObject::connect(w->read, &QSocketNotifier::activated, w->read,
                   [w] { dispatch(w, AVAHI_WATCH_IN); });
  QObject::connect(w->write, &QSocketNotifier::activated, w->write,
                   [w] { dispatch(w, AVAHI_WATCH_OUT); });
  watch_update(w, events);
  return w;
}

AvahiWatchEvent watch_get_events(AvahiWatch* w) { return w->happened; }

void watch_free(AvahiWatch* w) {
  retire(w->read);
  retire(w->write);
  if (w->running) {
    w->freed = true;
  } else {
    delete w;
  }
}

// Avahi's times are absolute, on the wall clock gettimeofday() reads.
void arm(AvahiTimeout* t, const struct timeval* when) {
  if (when == nullptr) {
    t->timer->stop();
    return;
  }
  struct timeval now {};
  ::gettimeofday(&now, nullptr);
  const long long ms = (static_cast<long long>(when->tv_sec) - now.tv_sec) * 1000 +
                       (static_cast<long long>(when->tv_usec) - now.tv_usec + 999) / 1000;
  t->timer->start(std::chrono::milliseconds(std::max(0LL, ms)));
}

AvahiTimeout* timeout_new(const AvahiPoll* api, const struct timeval* when,
                          AvahiTimeoutCallback callback, void* userdata) {
  auto* t = new AvahiTimeout{new QTimer(owner_of(api)), callback, userdata, false, false};
  t->timer->setSingleShot(true);
  QObject::connect(t->timer, &QTimer::timeout, t->timer, [t] {
    t->running = true;
    t->callback(t, t->userdata);
    t->running = false;
    if (t->freed) delete t;
  });
  arm(t, when);
  return t;
}

void timeout_update(AvahiTimeout* t, const struct timeval* when) { arm(t, when); }

void timeout_free(AvahiTimeout* t) {
  t->timer->stop();
  retire(t->timer);
  if (t->running) {
    t->freed = true;
  } else {
    delete t;
  }
}

}  // namespace

QtAvahiPoll::QtAvahiPoll()
    : api_(std::make_unique<AvahiPoll>(AvahiPoll{&owner_, watch_new, watch_update, watch_get_events,
                                                 watch_free, timeout_new, timeout_update,
                                                 timeout_free})) {}

QtAvahiPoll::~QtAvahiPoll() = default;

}  // namespace talmir880::mdns
