#include "device/qt/qt_delivery.hpp"

#include <QAbstractEventDispatcher>
#include <QMetaObject>

#include "device/deferred.hpp"

namespace talmir880 {

namespace {

void deliver() {
  if (Deferred::here().waiting()) Deferred::here().deliver();
}

}  // namespace

// The loop says it is awake once it has dispatched what was ready (and,
// asked not to wait, before it looks); a nested loop (a box's) says so too.
// What was posted before the loop first runs is delivered once it has
// dispatched the call queued here.
QtDelivery::QtDelivery() {
  QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake,
                   &receiver_, deliver);
  QMetaObject::invokeMethod(
      &receiver_, [] {}, Qt::QueuedConnection);
}

}  // namespace talmir880
