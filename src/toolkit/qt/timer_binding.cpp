#include "toolkit/qt/timer_binding.hpp"

#include <QTimer>

namespace talmir880 {

void bind(Timer& control, QTimer& timer) {
  timer.setInterval(control.Interval());
  const auto sync = [&control, &timer] {
    if (control.Enabled()) {
      timer.start(control.Interval());
    } else {
      timer.stop();
    }
  };
  sync();
  control.on_change(sync);
  QObject::connect(&timer, &QTimer::timeout, &timer, [&control] { control.tick(); });
}

}  // namespace talmir880
