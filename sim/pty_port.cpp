#include "pty_port.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "link/ports_folder.hpp"

namespace talmir880::sim {
namespace {

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

void close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace

PtyPort::PtyPort(int port) {
  const std::string folder = ensure_ports_folder();
  const std::string name = "COM" + std::to_string(port);
  link_path_ = port_link_path(port);

  // The lock, not the link, says whether a simulator is alive: a link left by
  // a killed simulator has no holder and may be replaced.
  const std::string lock_path = link_path_ + ".lock";
  lock_ = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lock_ < 0) fail("cannot open " + lock_path);
  if (flock(lock_, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      close_fd(lock_);
      throw PortHeld(name + " is already held by a running simulator (" + link_path_ + ")");
    }
    fail("cannot lock " + lock_path);
  }

  try {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) fail("posix_openpt");
    if (fcntl(master_, F_SETFD, FD_CLOEXEC) != 0) fail("fcntl");
    if (grantpt(master_) != 0) fail("grantpt");
    if (unlockpt(master_) != 0) fail("unlockpt");
    const char* slave = ptsname(master_);
    if (slave == nullptr) fail("ptsname");
    slave_path_ = slave;

    // Held open for our lifetime: without it the master reads a hang-up each
    // time the panel closes the port, and the panel may close and reopen it.
    slave_ = open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) fail("cannot open " + slave_path_);
    termios tio{};
    if (tcgetattr(slave_, &tio) != 0) fail("tcgetattr");
    cfmakeraw(&tio);
    if (tcsetattr(slave_, TCSANOW, &tio) != 0) fail("tcsetattr");

    const int flags = fcntl(master_, F_GETFL);
    if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) fail("fcntl");

    // Made aside and renamed over, so a panel never finds COM<n> missing.
    const std::string fresh = link_path_ + ".new";
    unlink(fresh.c_str());
    if (symlink(slave_path_.c_str(), fresh.c_str()) != 0) fail("cannot create " + fresh);
    if (rename(fresh.c_str(), link_path_.c_str()) != 0) {
      const int saved = errno;
      unlink(fresh.c_str());
      errno = saved;
      fail("cannot create " + link_path_);
    }
    linked_ = true;
  } catch (...) {
    close_fd(slave_);
    close_fd(master_);
    close_fd(lock_);
    throw;
  }
}

PtyPort::~PtyPort() {
  vanish();
  close_fd(lock_);
}

void PtyPort::vanish() {
  close_fd(slave_);
  close_fd(master_);
  remove_link();
}

void PtyPort::remove_link() {
  if (!linked_) return;
  // Only our own link: a user may have pointed COM<n> elsewhere meanwhile.
  std::vector<char> target(slave_path_.size() + 2);
  const ssize_t n = readlink(link_path_.c_str(), target.data(), target.size());
  if (n >= 0 && std::string(target.data(), static_cast<std::size_t>(n)) == slave_path_) {
    unlink(link_path_.c_str());
  }
  linked_ = false;
}

}  // namespace talmir880::sim
