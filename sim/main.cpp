// talmir880-sim: the TALMIR-880 on a pseudo-terminal. Reads commands as the
// device does, answers through the Pacer, and prints the traffic.

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
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
// the line has been quiet this long after its last byte arrived.
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

  // What the device does once the byte that led to it has arrived. Bytes are
  // parsed as they are read and their actions held until then, so the loop
  // wakes per action, not per character.
  struct Step {
    TimePoint at;
    std::vector<Action> actions;
    int commands;  // the device's count after that byte
  };

  void receive(TimePoint now);
  Outcome take_steps(TimePoint now);
  void act(const std::vector<Action>& actions, TimePoint now, bool logs_only);
  void log(std::string_view line) {
    if (!options_.quiet) print_line(line);
  }
  void take_output(TimePoint now);
  bool write_backlog();
  bool reading(TimePoint now) const { return !vanishing_ && pacer_.inbound_room(now) > 0; }
  std::optional<TimePoint> next_wake(TimePoint now) const;

  PtyPort& port_;
  const Options& options_;
  Device device_;
  Pacer pacer_;
  std::deque<Step> steps_;
  bool vanishing_ = false;  // the last command before vanishing is read
  std::string backlog_;
  std::optional<TimePoint> junk_deadline_;
};

int Simulator::run() {
  pacer_.start(Clock::now());
  for (;;) {
    TimePoint now = Clock::now();
    if (take_steps(now) == Outcome::vanished) return 0;
    take_output(now);
    if (junk_deadline_ && now >= *junk_deadline_) {
      act(device_.flush(), now, false);
      junk_deadline_.reset();
    }
    if (!write_backlog()) return 1;

    pollfd fds[2] = {{g_signal_pipe[0], POLLIN, 0}, {port_.master(), 0, 0}};
    if (reading(now)) fds[1].events |= POLLIN;
    if (!backlog_.empty()) fds[1].events |= POLLOUT;
    // ppoll, not poll: a reply due in 0.5 ms must not wait for a whole one.
    timespec timeout{};
    const std::optional<TimePoint> wake = next_wake(now);
    if (wake) {
      const auto left = std::max(*wake - Clock::now(), Clock::duration::zero());
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
      timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
      timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    }
    if (ppoll(fds, 2, wake ? &timeout : nullptr, nullptr) < 0) {
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
    if (fds[1].revents & POLLIN) receive(Clock::now());
  }
}

void Simulator::receive(TimePoint now) {
  char buffer[4096];
  std::size_t room = pacer_.inbound_room(now);
  std::optional<TimePoint> last;
  while (room > 0 && !vanishing_) {
    const ssize_t n = read(port_.master(), buffer, std::min(sizeof buffer, room));
    if (n < 0 && errno == EINTR) continue;
    // EAGAIN: all read. EIO cannot come while we hold the slave open.
    if (n <= 0) break;
    room -= static_cast<std::size_t>(n);
    // Byte by byte, so each action is held until its own byte is in, and
    // nothing after the command the device vanishes on is read.
    for (const char c : std::string_view(buffer, static_cast<std::size_t>(n))) {
      last = pacer_.arrive(now);
      std::vector<Action> actions = device_.feed({&c, 1});
      if (actions.empty()) continue;
      steps_.push_back({*last, std::move(actions), device_.commands()});
      if (options_.vanish_after && device_.commands() >= *options_.vanish_after) {
        vanishing_ = true;
        break;
      }
    }
  }
  if (!last) return;
  junk_deadline_.reset();
  if (device_.junk_pending()) junk_deadline_ = *last + kJunkQuiet;
}

Simulator::Outcome Simulator::take_steps(TimePoint now) {
  while (!steps_.empty() && steps_.front().at <= now) {
    const Step step = std::move(steps_.front());
    steps_.pop_front();
    const bool last = options_.vanish_after && step.commands >= *options_.vanish_after;
    act(step.actions, step.at, last);
    if (last) {
      // What reached the reader before the device went still does.
      take_output(step.at);
      write_backlog();
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

void Simulator::take_output(TimePoint now) {
  Pacer::Output due = pacer_.take(now, backlog_.size() < kChunk ? kChunk - backlog_.size() : 0);
  backlog_ += due.bytes;
  for (const std::string& line : due.logs) log(line);
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

std::optional<TimePoint> Simulator::next_wake(TimePoint now) const {
  // An unpaced sweep runs on as soon as its last chunk is gone.
  if (pacer_.wants_room() && backlog_.empty()) return now;
  std::optional<TimePoint> wake = pacer_.next_wake();
  auto consider = [&wake](std::optional<TimePoint> t) {
    if (t && (!wake || *t < *wake)) wake = t;
  };
  if (!steps_.empty()) consider(steps_.front().at);
  if (!vanishing_) consider(pacer_.inbound_room_at(now));
  consider(junk_deadline_);
  return wake;
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
