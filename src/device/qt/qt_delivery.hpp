#pragma once

#include <QObject>

#include "device/deferred.hpp"

namespace talmir880 {

// The rooms' events delivered by the running Qt event loop, one queued call
// for what is posted until it runs. Make it after the application object.
class QtDelivery final : private Deferred::Loop {
 public:
  QtDelivery();
  ~QtDelivery();
  QtDelivery(const QtDelivery&) = delete;
  QtDelivery& operator=(const QtDelivery&) = delete;

 private:
  void wake() override;

  QObject receiver_;
};

}  // namespace talmir880
