#include "link/qt/qt_tcp_port.hpp"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QMetaObject>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

namespace talmir880 {
namespace {

// A silent link (a cable out, Wi-Fi gone) sends no FIN: these make the
// kernel give the connection up within seconds, idle or with a command
// unanswered, instead of after the default quarter of an hour.
constexpr int kKeepIdleS = 5;
constexpr int kKeepIntervalS = 1;
constexpr int kKeepCount = 3;
constexpr unsigned kUnacknowledgedMs = 5000;

void tune(int fd) {
  const int on = 1;
  // A command is one small write that waits for its R: no batching.
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdleS, sizeof kKeepIdleS);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalS, sizeof kKeepIntervalS);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepCount, sizeof kKeepCount);
  ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &kUnacknowledgedMs, sizeof kUnacknowledgedMs);
}

std::string address_name(const std::string& host, int port) {
  const bool v6 = host.find(':') != std::string::npos;
  return "tcp:" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace

QtTcpPort::QtTcpPort(std::string host, int port)
    : host_(std::move(host)), port_(port), name_(address_name(host_, port_)) {}

QtTcpPort::~QtTcpPort() {
  read_notifier_.reset();
  write_notifier_.reset();
  if (fd_ >= 0) ::close(fd_);
}

void QtTcpPort::set_Settings(const std::string& settings) {
  // The far side sets the line; a setting it could never take is still a mistake.
  parse_settings(settings);
}

void QtTcpPort::set_PortOpen(bool open_it) {
  if (!open_it) {
    close();
  } else if (state_ == State::Closed) {
    open();
  }
}

void QtTcpPort::open() {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port_);
  if (const int error = ::getaddrinfo(host_.c_str(), service.c_str(), &hints, &found)) {
    throw PortError(name_ + ": " + ::gai_strerror(error), PortError::Cause::unresolved);
  }
  std::string why = "no address";
  int fd = -1;
  for (const addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) fd = connect_to(*a, why);
  ::freeaddrinfo(found);
  if (fd < 0) throw PortError(name_ + ": " + why, PortError::Cause::network);

  fd_ = fd;
  received_.clear();
  pending_.clear();
  fault_.clear();
  fault_untold_ = false;
  ++session_;
  state_ = State::Open;
  read_notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
  QObject::connect(read_notifier_.get(), &QSocketNotifier::activated, &context_,
                   [this] { readable(); });
  write_notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Write);
  write_notifier_->setEnabled(false);
  QObject::connect(write_notifier_.get(), &QSocketNotifier::activated, &context_,
                   [this] { flush(); });
}

// The connected socket, or -1 with why in `why`.
int QtTcpPort::connect_to(const addrinfo& address, std::string& why) const {
  const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                          address.ai_protocol);
  if (fd < 0) {
    why = std::strerror(errno);
    return -1;
  }
  tune(fd);
  int error = 0;
  if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
    error = errno;
    if (error == EINPROGRESS) {
      pollfd watched{fd, POLLOUT, 0};
      const auto until = std::chrono::steady_clock::now() + kConnectWait;
      int ready = -1;
      // A signal (the stop signals' own) must not cut the wait short.
      do {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        ready = ::poll(&watched, 1, static_cast<int>(std::max<long long>(0, left.count())));
      } while (ready < 0 && errno == EINTR);
      socklen_t size = sizeof error;
      if (ready == 1) {
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
      } else {
        error = ETIMEDOUT;
      }
    }
  }
  if (error == 0) return fd;
  why = error == ETIMEDOUT ? "no connection within " + std::to_string(kConnectWait.count()) + " ms"
                           : std::strerror(error);
  ::close(fd);
  return -1;
}

bool QtTcpPort::resolves(const std::string& host, std::string& why) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (const int error = ::getaddrinfo(host.c_str(), nullptr, &hints, &found)) {
    why = ::gai_strerror(error);
    return false;
  }
  ::freeaddrinfo(found);
  return true;
}

void QtTcpPort::close() {
  state_ = State::Closed;
  fault_untold_ = false;
  drop_socket();
}

// Not deleted at once: the notifier whose signal is running may be one of them.
void QtTcpPort::drop_socket() {
  for (std::unique_ptr<QSocketNotifier>* notifier : {&read_notifier_, &write_notifier_}) {
    if (!*notifier) continue;
    (*notifier)->setEnabled(false);
    notifier->release()->deleteLater();
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  pending_.clear();
}

void QtTcpPort::Output(std::string_view data) {
  if (state_ == State::Closed) throw PortError("the port is closed");
  if (state_ == State::Lost) throw PortError(fault_, PortError::Cause::network);
  pending_.append(data);
  flush();
  if (state_ != State::Open) {
    // Told here, as the write's own fault: no OnComm after it.
    fault_untold_ = false;
    throw PortError(fault_, PortError::Cause::network);
  }
}

void QtTcpPort::flush() {
  if (state_ != State::Open) return;
  while (!pending_.empty()) {
    const ssize_t sent = ::send(fd_, pending_.data(), pending_.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (sent < 0) {
      lose(name_ + ": " + std::strerror(errno));
      return;
    }
    pending_.erase(0, static_cast<std::size_t>(sent));
  }
  write_notifier_->setEnabled(!pending_.empty());
}

std::string QtTcpPort::Input() {
  if (fault_untold_) {
    fault_untold_ = false;
    throw PortError(fault_, PortError::Cause::network);
  }
  return std::exchange(received_, {});
}

void QtTcpPort::readable() {
  if (state_ != State::Open) return;
  std::string why;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
    if (got > 0) {
      received_.append(buffer, static_cast<std::size_t>(got));
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    why = got == 0 ? std::string("the far end closed the connection") : std::strerror(errno);
    break;
  }
  const unsigned session = session_;
  if (!received_.empty() && OnComm) OnComm();
  // What came before the end is told first; the receiver may have closed since.
  if (!why.empty() && session == session_ && state_ == State::Open) lose(name_ + ": " + why);
}

void QtTcpPort::lose(std::string why) {
  state_ = State::Lost;
  fault_ = std::move(why);
  fault_untold_ = true;
  drop_socket();
  // From the event loop, as QtSerialPort tells a pulled adapter: the
  // receiver may run an event loop of its own.
  const unsigned session = session_;
  QMetaObject::invokeMethod(
      &context_,
      [this, session] {
        if (session == session_ && state_ == State::Lost && fault_untold_ && OnComm) OnComm();
      },
      Qt::QueuedConnection);
}

}  // namespace talmir880
