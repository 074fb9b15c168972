#include "programs/common/qt/stop_signals.hpp"

#include <QCoreApplication>

#include "platform/stop_requests.hpp"

#ifdef Q_OS_WIN
#include <QWinEventNotifier>
#else
#include <QSocketNotifier>
#endif

namespace talmir880::programs {

std::string on_stop_signals(std::function<void()> stop) {
  const platform::StopWatch watch = platform::catch_stop_requests();
  if (!watch.error.empty()) return watch.error;
  const auto heard = [stop = std::move(stop)] {
    if (platform::take_stop_request()) stop();
  };
#ifdef Q_OS_WIN
  auto* notifier =
      new QWinEventNotifier(reinterpret_cast<HANDLE>(watch.handle), QCoreApplication::instance());
  QObject::connect(notifier, &QWinEventNotifier::activated, notifier, heard);
#else
  auto* notifier =
      new QSocketNotifier(watch.handle, QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, heard);
#endif
  return {};
}

}  // namespace talmir880::programs
