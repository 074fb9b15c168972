#pragma once

#include <QObject>

namespace talmir880 {

// The rooms' events delivered by the running Qt event loop: each time it
// has dispatched what was ready, what the rooms posted meanwhile is heard,
// with no allocation and no extra turn of the loop.
// Make it after the application object.
class QtDelivery final {
 public:
  QtDelivery();

 private:
  QObject receiver_;
};

}  // namespace talmir880
