// The real talmir880-sim over a real pseudo-terminal, in a private ports folder.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/ports_folder.hpp"
#include "support/pty.hpp"
#include "support/temp_runtime_dir.hpp"

namespace talmir880 {
namespace {

using testing::PtyRead;
using testing::read_pty;

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Generous: only a failing test waits this long.
constexpr auto kPatience = 3s;

int ms_left(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

class SimProcess {
 public:
  explicit SimProcess(const std::vector<std::string>& args) {
    int out[2];
    int err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      dup2(err[1], STDERR_FILENO);
      std::vector<char*> argv{const_cast<char*>(TALMIR880_SIM_PATH)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~SimProcess() {
    if (pid_ > 0 && !status_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  std::optional<std::string> line() { return read_line(out_, out_buffer_); }
  std::optional<std::string> error_line() { return read_line(err_, err_buffer_); }

  // The exit status, or nullopt if it is still running (or was signalled).
  std::optional<int> wait_exit() {
    const auto deadline = Clock::now() + kPatience;
    while (!status_ && Clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = status;
      } else {
        std::this_thread::sleep_for(2ms);
      }
    }
    if (!status_ || !WIFEXITED(*status_)) return std::nullopt;
    return WEXITSTATUS(*status_);
  }

  void signal(int sig) { kill(pid_, sig); }

 private:
  static std::optional<std::string> read_line(int fd, std::string& buffer) {
    const auto deadline = Clock::now() + kPatience;
    for (;;) {
      if (auto nl = buffer.find('\n'); nl != std::string::npos) {
        std::string line = buffer.substr(0, nl);
        buffer.erase(0, nl + 1);
        return line;
      }
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, ms_left(deadline)) <= 0) return std::nullopt;
      char chunk[512];
      const ssize_t n = read(fd, chunk, sizeof chunk);
      if (n <= 0) return std::nullopt;
      buffer.append(chunk, static_cast<std::size_t>(n));
    }
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string out_buffer_;
  std::string err_buffer_;
  std::optional<int> status_;
};

class SimProcessTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (pty_ >= 0) close(pty_);
  }

  // Reads the announcement and opens the port through its link, as the panel would.
  void connect(SimProcess& sim, int port) {
    const std::optional<std::string> first = sim.line();
    ASSERT_TRUE(first.has_value()) << "no announcement";
    const std::string prefix = "talmir880-sim: COM" + std::to_string(port) + " -> ";
    ASSERT_TRUE(first->starts_with(prefix)) << *first;
    const std::string device = first->substr(prefix.size());
    EXPECT_TRUE(device.starts_with("/dev/pts/")) << device;
    ASSERT_EQ(resolve_port_link(port), device);
    pty_ = open(port_link_path(port).c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(pty_, 0);
  }

  void send(std::string_view bytes) {
    ASSERT_EQ(write(pty_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  static bool link_exists(int port) {
    struct stat st {};
    return lstat(port_link_path(port).c_str(), &st) == 0;
  }
  static bool lock_exists(int port) {
    struct stat st {};
    return lstat((port_link_path(port) + ".lock").c_str(), &st) == 0;
  }

  testing::TempRuntimeDir runtime_dir_{"talmir880-sim-test"};
  const std::string runtime_ = runtime_dir_.path();
  int pty_ = -1;
};

TEST_F(SimProcessTest, AcknowledgesHoldsItsPortAndCleansUp) {
  SimProcess sim({"--port", "9"});
  ASSERT_NO_FATAL_FAILURE(connect(sim, 9));

  send("$F043392000");
  const PtyRead reply = read_pty(pty_, 3, kPatience);
  EXPECT_NE(reply.bytes.find('R'), std::string::npos) << reply.bytes;
  EXPECT_EQ(sim.line(), "$F043392000 RF 433920000 Hz");

  SimProcess second({"--port", "9"});
  EXPECT_EQ(second.wait_exit(), 1);
  const std::optional<std::string> complaint = second.error_line();
  ASSERT_TRUE(complaint.has_value());
  EXPECT_NE(complaint->find("COM9"), std::string::npos) << *complaint;
  EXPECT_TRUE(resolve_port_link(9).has_value()) << "the first simulator keeps its link";

  sim.signal(SIGTERM);
  EXPECT_EQ(sim.wait_exit(), 0);
  EXPECT_FALSE(link_exists(9));
}

TEST_F(SimProcessTest, TheLockFileGoesWithTheSimulatorNotWithARefusedOne) {
  SimProcess sim({"--port", "5"});
  ASSERT_NO_FATAL_FAILURE(connect(sim, 5));
  EXPECT_TRUE(lock_exists(5));
  SimProcess second({"--port", "5"});
  EXPECT_EQ(second.wait_exit(), 1);
  EXPECT_TRUE(lock_exists(5)) << "the refused one leaves the holder's lock alone";

  sim.signal(SIGTERM);
  EXPECT_EQ(sim.wait_exit(), 0);
  EXPECT_FALSE(lock_exists(5));
  EXPECT_FALSE(link_exists(5));
}

TEST_F(SimProcessTest, ReplacesALinkNobodyHolds) {
  ensure_ports_folder();
  ASSERT_EQ(symlink("/dev/pts/999999", port_link_path(9).c_str()), 0);
  close(open((port_link_path(9) + ".lock").c_str(), O_CREAT | O_WRONLY, 0600));  // a killed one's
  SimProcess sim({});
  ASSERT_NO_FATAL_FAILURE(connect(sim, 9));
  sim.signal(SIGINT);
  EXPECT_EQ(sim.wait_exit(), 0);
  EXPECT_FALSE(link_exists(9));
  EXPECT_FALSE(lock_exists(9));
}

TEST_F(SimProcessTest, RefusesAFolderOthersMayWrite) {
  ensure_ports_folder();
  ASSERT_EQ(chmod(ports_folder_path().c_str(), 0777), 0);
  SimProcess sim({});
  EXPECT_EQ(sim.wait_exit(), 1);
  EXPECT_FALSE(link_exists(9));
}

TEST_F(SimProcessTest, VanishesAfterTheNthCommand) {
  SimProcess sim({"--port", "4", "--vanish-after", "1"});
  ASSERT_NO_FATAL_FAILURE(connect(sim, 4));

  send("$F043392000");
  const PtyRead r = read_pty(pty_, 1000, kPatience);
  EXPECT_TRUE(r.closed);
  EXPECT_EQ(r.bytes.find('R'), std::string::npos) << "the last command is not answered";
  EXPECT_EQ(sim.line(), "$F043392000 RF 433920000 Hz");
  EXPECT_EQ(sim.line(), "VANISHED");
  EXPECT_EQ(sim.wait_exit(), 0);
  EXPECT_FALSE(link_exists(4));
  EXPECT_FALSE(lock_exists(4));
}

TEST_F(SimProcessTest, UnpacedSweepSendsFourDigitsPerPoint) {
  SimProcess sim({"--baud", "0"});
  ASSERT_NO_FATAL_FAILURE(connect(sim, 9));

  send("$W010000000000800000005");
  EXPECT_EQ(sim.line(), "$W010000000000800000005 SWEEP start=100000000 step=800000 points=5");
  EXPECT_EQ(sim.line(), "SWEEP DONE points=5");
  PtyRead r = read_pty(pty_, 20, kPatience);
  // Anything beyond the 20 would already be on its way; a short look suffices.
  const PtyRead extra = read_pty(pty_, 1, 100ms);
  EXPECT_EQ(r.bytes + extra.bytes, "00000001000200030004");
}

}  // namespace
}  // namespace talmir880
