#include "programs/talmir880-tango/waker.hpp"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <utility>

namespace talmir880::programs {
namespace {

int made_eventfd() {
  const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) throw std::runtime_error("no eventfd for the control system's calls");
  return fd;
}

}  // namespace

Waker::Waker(std::function<void()> woken)
    : fd_(made_eventfd()), notifier_(fd_, QSocketNotifier::Read), woken_(std::move(woken)) {
  QObject::connect(&notifier_, &QSocketNotifier::activated, [this] {
    std::uint64_t count = 0;
    // Several wakes read as one: woken_ takes everything posted.
    if (read(fd_, &count, sizeof count) == sizeof count) woken_();
  });
}

Waker::~Waker() {
  notifier_.setEnabled(false);
  close(fd_);
}

void Waker::wake() const {
  const std::uint64_t one = 1;
  // Only a full counter refuses, and then a wake is pending anyway.
  [[maybe_unused]] const ssize_t written = write(fd_, &one, sizeof one);
}

}  // namespace talmir880::programs
