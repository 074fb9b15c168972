#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "platform/stop_requests.hpp"

namespace talmir880::platform {
namespace {

int g_pipe[2] = {-1, -1};

// Only what is safe in a signal handler: one byte down a pipe, read by the
// event loop.
extern "C" void on_signal(int) {
  const int saved = errno;
  const char byte = 1;
  const ssize_t ignored = ::write(g_pipe[1], &byte, 1);
  (void)ignored;
  errno = saved;
}

StopWatch failed() { return {-1, std::strerror(errno)}; }

}  // namespace

StopWatch catch_stop_requests() {
  if (g_pipe[0] >= 0) return {g_pipe[0], {}};
  if (::pipe(g_pipe) != 0) return failed();
  for (int fd : g_pipe) {
    if (::fcntl(fd, F_SETFL, O_NONBLOCK) != 0 || ::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) {
      return failed();
    }
  }
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGINT, SIGTERM}) {
    if (sigaction(sig, &sa, nullptr) != 0) return failed();
  }
  std::signal(SIGPIPE, SIG_IGN);
  return {g_pipe[0], {}};
}

bool take_stop_request() {
  bool came = false;
  char bytes[16];
  ssize_t n = 0;
  while (g_pipe[0] >= 0 && (n = ::read(g_pipe[0], bytes, sizeof bytes)) > 0) came = true;
  return came;
}

}  // namespace talmir880::platform
