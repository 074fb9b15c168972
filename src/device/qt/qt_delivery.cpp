#include "device/qt/qt_delivery.hpp"

#include <QMetaObject>

namespace talmir880 {

QtDelivery::QtDelivery() { Deferred::here().set_loop(this); }

QtDelivery::~QtDelivery() { Deferred::here().set_loop(nullptr); }

void QtDelivery::wake() {
  QMetaObject::invokeMethod(
      &receiver_, [] { Deferred::here().deliver(); }, Qt::QueuedConnection);
}

}  // namespace talmir880
