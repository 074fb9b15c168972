#include "programs/common/qt/stop_signals.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

namespace talmir880::programs {
namespace {

int g_signal_pipe[2] = {-1, -1};

// Only what is safe in a signal handler: one byte down a pipe, read by the
// event loop.
extern "C" void on_signal(int) {
  const int saved = errno;
  const char byte = 1;
  const ssize_t ignored = ::write(g_signal_pipe[1], &byte, 1);
  (void)ignored;
  errno = saved;
}

}  // namespace

bool on_stop_signals(std::function<void()> stop) {
  if (::pipe(g_signal_pipe) != 0) return false;
  for (int fd : g_signal_pipe) {
    if (::fcntl(fd, F_SETFL, O_NONBLOCK) != 0 || ::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) {
      return false;
    }
  }
  auto* notifier =
      new QSocketNotifier(g_signal_pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [stop = std::move(stop)] {
    char bytes[16];
    while (::read(g_signal_pipe[0], bytes, sizeof bytes) > 0) {
    }
    stop();
  });
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGINT, SIGTERM}) {
    if (sigaction(sig, &sa, nullptr) != 0) return false;
  }
  std::signal(SIGPIPE, SIG_IGN);
  return true;
}

}  // namespace talmir880::programs
