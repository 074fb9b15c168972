#pragma once

// Pseudo-terminals in tests, without Qt: one the test makes and plays the
// device on, and a patient read of any terminal end.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <string_view>

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
  // What has come so far, without waiting.
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

struct PtyRead {
  std::string bytes;
  bool closed = false;  // EOF or EIO: the other end went away
};

// Reads until `want` bytes came, the line closed, or `wait` passed.
inline PtyRead read_pty(int fd, std::size_t want, std::chrono::milliseconds wait) {
  using Clock = std::chrono::steady_clock;
  PtyRead r;
  const auto deadline = Clock::now() + wait;
  while (r.bytes.size() < want) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0))) <= 0) break;
    char chunk[512];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n > 0) {
      r.bytes.append(chunk, static_cast<std::size_t>(n));
    } else if (n == 0 || errno == EIO) {
      r.closed = true;
      break;
    }
  }
  return r;
}

}  // namespace talmir880::testing
