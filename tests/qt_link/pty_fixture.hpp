#pragma once

// A device for the port to talk to: a pseudo-terminal made by the test, linked
// as COM<n> in a ports folder under a temporary XDG_RUNTIME_DIR.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "link/ports_folder.hpp"
#include "support/temp_runtime_dir.hpp"

namespace talmir880::testing {

class Pty {
 public:
  Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    slave_path_ = ptsname(master_);
    // Raw, so that bytes cross as they are in both directions.
    const int slave = ::open(slave_path_.c_str(), O_RDWR | O_NOCTTY);
    if (slave >= 0) {
      termios t{};
      tcgetattr(slave, &t);
      cfmakeraw(&t);
      tcsetattr(slave, TCSANOW, &t);
      ::close(slave);
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  }
  ~Pty() { vanish(); }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool ok() const { return master_ >= 0 && !slave_path_.empty(); }
  int master() const { return master_; }
  const std::string& slave_path() const { return slave_path_; }

  // The device end closes, as when the simulator quits.
  void vanish() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }
  void send(std::string_view bytes) const {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  std::string take() const {
    std::string got;
    char buffer[256];
    ssize_t n = 0;
    while ((n = ::read(master_, buffer, sizeof buffer)) > 0) got.append(buffer, buffer + n);
    return got;
  }

 private:
  int master_ = -1;
  std::string slave_path_;
};

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
