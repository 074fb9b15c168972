#pragma once

// Waits on the Qt event loop, and a ports folder in a temporary
// XDG_RUNTIME_DIR whose COM<n> links lead to pseudo-terminals the test makes.

#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>
#include <string>

#include "platform/ports_folder.hpp"
#include "support/pty.hpp"
#include "support/temp_runtime_dir.hpp"

namespace talmir880::testing {

// Runs the event loop until done() or the deadline; the ticker wakes the loop
// to look, so waiting costs no CPU.
inline bool run_until(const std::function<bool()>& done, int deadline_ms = 3000) {
  QElapsedTimer clock;
  clock.start();
  QTimer ticker;
  ticker.start(5);
  while (!done()) {
    if (clock.elapsed() > deadline_ms) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

inline void run_for(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// CPU time the process has used, user and system, in milliseconds.
inline double cpu_ms() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto ms = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
  };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// A private XDG_RUNTIME_DIR with its ports folder; the old value comes back
// afterwards.
class PortsFolderTest : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = ensure_ports_folder(); }

  // COM<n> now leads to the device, replacing any older link.
  void link(int n, const Pty& device) {
    const std::string path = port_link_path(n);
    ::unlink(path.c_str());
    ASSERT_EQ(::symlink(device.slave_path().c_str(), path.c_str()), 0) << path;
  }

  TempRuntimeDir runtime_{"talmir880-qt-link"};
  std::string folder_;
};

}  // namespace talmir880::testing
