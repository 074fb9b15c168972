#include "pty_port.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/ports_folder.hpp"

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
  lock_path_ = link_path_ + ".lock";
  take_lock(name);

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
    release_lock();
    throw;
  }
}

PtyPort::~PtyPort() {
  vanish();
  release_lock();
}

void PtyPort::take_lock(const std::string& name) {
  // The lock, not the link, says whether a simulator is alive: a link left by
  // a killed simulator has no holder and may be replaced.
  for (int attempt = 0; attempt < 100; ++attempt) {
    lock_ = open(lock_path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock_ < 0) fail("cannot open " + lock_path_);
    if (flock(lock_, LOCK_EX | LOCK_NB) != 0) {
      const int saved = errno;
      close_fd(lock_);
      errno = saved;
      if (errno == EWOULDBLOCK) {
        throw PortHeld(name + " is already held by a running simulator (" + link_path_ + ")");
      }
      fail("cannot lock " + lock_path_);
    }
    // A holder that ended between our open and flock removed the file we now
    // hold; a simulator starting after it would make a new one and hold the
    // port too. So the file must still be the one named.
    if (holds_named_lock()) return;
    close_fd(lock_);
  }
  throw std::runtime_error("cannot lock " + lock_path_ + ": it keeps being replaced");
}

bool PtyPort::holds_named_lock() const {
  struct stat held {};
  struct stat named {};
  return lock_ >= 0 && fstat(lock_, &held) == 0 && lstat(lock_path_.c_str(), &named) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

void PtyPort::release_lock() {
  // Removed before it is closed: once closed, another simulator may lock this
  // very file, and removing it then would let a third make a new one beside
  // it. And only while it is ours: someone may have replaced it meanwhile.
  if (holds_named_lock()) unlink(lock_path_.c_str());
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
