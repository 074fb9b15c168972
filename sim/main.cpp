// talmir880-sim: the TALMIR-880 on a pseudo-terminal. Reads commands as the
// device does, answers through the Pacer, and prints the traffic.

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device.hpp"
#include "options.hpp"
#include "pacer.hpp"
#include "pty_port.hpp"

namespace talmir880::sim {
namespace {

// Unpaced output is handed to the pseudo-terminal in chunks this large.
constexpr std::size_t kChunk = 64 * 1024;
// Junk is logged once per run; a run with nothing after it is logged when
// the line has been quiet this long.
constexpr auto kJunkQuiet = std::chrono::milliseconds(100);

int g_signal_pipe[2] = {-1, -1};

extern "C" void on_signal(int) {
  const int saved = errno;
  const char byte = 1;
  const ssize_t ignored = write(g_signal_pipe[1], &byte, 1);
  (void)ignored;
  errno = saved;
}

// SIGINT and SIGTERM reach the poll loop through a pipe, so the loop ends and
// the link is removed on the normal way out.
bool install_signal_pipe() {
  if (pipe(g_signal_pipe) != 0) return false;
  for (int fd : g_signal_pipe) {
    if (fcntl(fd, F_SETFL, O_NONBLOCK) != 0 || fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) return false;
  }
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    if (sigaction(sig, &sa, nullptr) != 0) return false;
  }
  // A reader of our stdout that goes away must not kill us before cleanup.
  std::signal(SIGPIPE, SIG_IGN);
  return true;
}

void print_line(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

class Simulator {
 public:
  Simulator(PtyPort& port, const Options& options)
      : port_(port), options_(options), pacer_(options.pacer) {}

  int run();

 private:
  enum class Outcome { carry_on, vanished };

  Outcome receive(TimePoint now);
  Outcome handle(std::string_view bytes, TimePoint now);
  void act(const std::vector<Action>& actions, TimePoint now, bool logs_only);
  void log(std::string_view line) {
    if (!options_.quiet) print_line(line);
  }
  bool write_backlog();
  int poll_timeout(TimePoint now) const;

  PtyPort& port_;
  const Options& options_;
  Device device_;
  Pacer pacer_;
  std::string backlog_;
  std::optional<TimePoint> junk_deadline_;
};

int Simulator::run() {
  pacer_.start(Clock::now());
  for (;;) {
    TimePoint now = Clock::now();
    Pacer::Output due = pacer_.take(now, backlog_.size() < kChunk ? kChunk - backlog_.size() : 0);
    backlog_ += due.bytes;
    for (const std::string& line : due.logs) log(line);
    if (junk_deadline_ && now >= *junk_deadline_) {
      act(device_.flush(), now, false);
      junk_deadline_.reset();
    }
    if (!write_backlog()) return 1;

    pollfd fds[2] = {
        {g_signal_pipe[0], POLLIN, 0},
        {port_.master(), static_cast<short>(backlog_.empty() ? POLLIN : POLLIN | POLLOUT), 0}};
    if (poll(fds, 2, poll_timeout(now)) < 0) {
      if (errno == EINTR) continue;
      std::perror("talmir880-sim: poll");
      return 1;
    }
    if (fds[0].revents != 0) {
      act(device_.flush(), now, false);
      return 0;
    }
    if ((fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) && !(fds[1].revents & POLLIN)) {
      std::fputs("talmir880-sim: the pseudo-terminal hung up\n", stderr);
      return 1;
    }
    if (fds[1].revents & POLLIN) {
      if (receive(Clock::now()) == Outcome::vanished) return 0;
    }
  }
}

Simulator::Outcome Simulator::receive(TimePoint now) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(port_.master(), buffer, sizeof buffer);
    if (n > 0) {
      if (handle({buffer, static_cast<std::size_t>(n)}, now) == Outcome::vanished) {
        return Outcome::vanished;
      }
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // EAGAIN: all read. EIO cannot come while we hold the slave open.
    break;
  }
  junk_deadline_.reset();
  if (device_.junk_pending()) junk_deadline_ = now + kJunkQuiet;
  return Outcome::carry_on;
}

Simulator::Outcome Simulator::handle(std::string_view bytes, TimePoint now) {
  if (!options_.vanish_after) {
    act(device_.feed(bytes), now, false);
    return Outcome::carry_on;
  }
  // Byte by byte, so the device goes right after the Nth command and nothing
  // later in the same chunk is answered.
  for (char c : bytes) {
    std::vector<Action> actions = device_.feed({&c, 1});
    const bool last = device_.commands() >= *options_.vanish_after;
    act(actions, now, last);
    if (last) {
      port_.vanish();
      print_line("VANISHED");
      return Outcome::vanished;
    }
  }
  return Outcome::carry_on;
}

void Simulator::act(const std::vector<Action>& actions, TimePoint now, bool logs_only) {
  for (const Action& a : actions) {
    switch (a.kind) {
      case Action::Kind::log:
        log(a.text);
        break;
      case Action::Kind::reply:
        if (!logs_only) pacer_.reply(a.text, now);
        break;
      case Action::Kind::sweep:
        if (!logs_only) pacer_.sweep(a.sweep, now);
        break;
    }
  }
}

bool Simulator::write_backlog() {
  std::size_t done = 0;
  while (done < backlog_.size()) {
    const ssize_t n = write(port_.master(), backlog_.data() + done, backlog_.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno == EAGAIN) {
      break;  // the reader is behind; POLLOUT tells when to go on
    } else {
      std::perror("talmir880-sim: write");
      return false;
    }
  }
  backlog_.erase(0, done);
  return true;
}

int Simulator::poll_timeout(TimePoint now) const {
  // An unpaced sweep runs on as soon as its last chunk is gone.
  if (pacer_.wants_room() && backlog_.empty()) return 0;
  std::optional<TimePoint> wake = pacer_.next_wake();
  if (junk_deadline_ && (!wake || *junk_deadline_ < *wake)) wake = junk_deadline_;
  if (!wake) return -1;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*wake - now).count();
  return static_cast<int>(std::clamp<decltype(ms)>(ms, 0, INT_MAX));
}

}  // namespace
}  // namespace talmir880::sim

int main(int argc, char** argv) {
  using namespace talmir880::sim;
  const ParsedOptions parsed = parse_options({argv + 1, argv + argc});
  if (!parsed.options) {
    std::fprintf(stderr, "talmir880-sim: %s\nTry 'talmir880-sim --help'.\n", parsed.error.c_str());
    return 2;
  }
  const Options& options = *parsed.options;
  if (options.help) {
    std::fputs(usage().c_str(), stdout);
    return 0;
  }
  if (!install_signal_pipe()) {
    std::perror("talmir880-sim: signals");
    return 1;
  }
  try {
    PtyPort port(options.port);
    print_line("talmir880-sim: COM" + std::to_string(options.port) + " -> " + port.slave_path());
    return Simulator(port, options).run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "talmir880-sim: %s\n", e.what());
    return 1;
  }
}
