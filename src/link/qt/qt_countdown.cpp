#include "link/qt/qt_countdown.hpp"

#include <utility>

namespace talmir880 {

QtCountdown::QtCountdown(std::chrono::milliseconds after, std::function<void()> expired) {
  timer_.setSingleShot(true);
  timer_.setInterval(after);
  QObject::connect(&timer_, &QTimer::timeout, &timer_, std::move(expired));
}

QtCountdown::QtCountdown(std::function<std::chrono::milliseconds()> after,
                         std::function<void()> expired)
    : QtCountdown(after(), std::move(expired)) {
  after_ = std::move(after);
}

}  // namespace talmir880
