#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/sockets.hpp"

#ifdef __linux__
#include <linux/sockios.h>
#endif

namespace talmir880::platform {
namespace {

std::string numeric(const std::string& host) { return host == "localhost" ? "127.0.0.1" : host; }

// The address of a numeric host, or nothing. The resolver also reads the
// old short forms ("1.2.3" for 1.2.0.3); an IPv4 address here is four
// numbers, as the allow list reads it.
addrinfo* resolve_numeric(const std::string& host, int port) {
  in_addr v4{};
  if (numeric(host).find(':') == std::string::npos &&
      ::inet_pton(AF_INET, numeric(host).c_str(), &v4) != 1) {
    return nullptr;
  }
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(numeric(host).c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
    return nullptr;
  }
  return found;
}

Endpoint endpoint_of(const sockaddr_storage& from) {
  Endpoint out;
  if (from.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(from);
    out.address[10] = out.address[11] = 0xff;
    std::memcpy(out.address.data() + 12, &v4.sin_addr, 4);
    out.port = ntohs(v4.sin_port);
  } else if (from.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(from);
    std::memcpy(out.address.data(), v6.sin6_addr.s6_addr, 16);
    out.port = ntohs(v6.sin6_port);
  }
  return out;
}

// A silent link (a cable out, Wi-Fi gone) sends no FIN: these make the
// kernel give the connection up within seconds, idle or with a command
// unanswered.
constexpr int kKeepIdleS = 5;
constexpr int kKeepIntervalS = 1;
constexpr int kKeepCount = 3;
constexpr unsigned kUnacknowledgedMs = 5000;

void keep_for_a_device(int fd) {
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdleS, sizeof kKeepIdleS);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalS, sizeof kKeepIntervalS);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepCount, sizeof kKeepCount);
#ifdef TCP_USER_TIMEOUT
  ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &kUnacknowledgedMs, sizeof kUnacknowledgedMs);
#endif
}

// The connected socket, or -1 with the reason in `why`.
int connect_one(const addrinfo& address, std::chrono::milliseconds wait, std::string& why) {
  const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                          address.ai_protocol);
  if (fd < 0) {
    why = std::strerror(errno);
    return -1;
  }
  keep_for_a_device(fd);
  int error = 0;
  if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
    error = errno;
    if (error == EINPROGRESS) {
      pollfd watched{fd, POLLOUT, 0};
      const auto until = std::chrono::steady_clock::now() + wait;
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
  why = error == ETIMEDOUT ? "no connection within " + std::to_string(wait.count()) + " ms"
                           : std::strerror(error);
  ::close(fd);
  return -1;
}

Transfer failed_unless_waiting(int error) {
  if (error == EAGAIN || error == EWOULDBLOCK) return {Outcome::would_block, 0};
  return {Outcome::failed, 0};
}

}  // namespace

bool is_numeric_host(const std::string& host) {
  addrinfo* found = resolve_numeric(host, 0);
  if (found != nullptr) ::freeaddrinfo(found);
  return found != nullptr;
}

Listener listen_tcp(const std::string& host, int port) {
  addrinfo* found = resolve_numeric(host, port);
  if (found == nullptr) return {kNoSocket, 0, host + " is not an IP address"};
  const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const int on = 1;
  const bool ok = fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
                  ::bind(fd, found->ai_addr, found->ai_addrlen) == 0 &&
                  // A burst of clients waits in the system's queue: one it
                  // drops retries only after a second.
                  ::listen(fd, SOMAXCONN) == 0;
  ::freeaddrinfo(found);
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  if (!ok || ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
    Listener none{kNoSocket, 0, std::strerror(errno)};
    if (fd >= 0) ::close(fd);
    return none;
  }
  return {fd, endpoint_of(bound).port, {}};
}

int longest_listen_queue() { return SOMAXCONN; }

Accepted accept_next(Socket listener) {
  for (;;) {
    sockaddr_storage from{};
    socklen_t length = sizeof from;
    const int fd = ::accept4(static_cast<int>(listener), reinterpret_cast<sockaddr*>(&from),
                             &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) return {fd, endpoint_of(from)};
    // EAGAIN: all taken; anything else: the next one tells.
    if (errno != EINTR && errno != ECONNABORTED) return {};
  }
}

Connected connect_tcp(const std::string& host, int port, std::chrono::milliseconds wait) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (const int error = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found)) {
    return {kNoSocket, ::gai_strerror(error), true};
  }
  Connected out{kNoSocket, "no address", false};
  int fd = -1;
  for (const addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
    fd = connect_one(*a, wait, out.error);
  }
  ::freeaddrinfo(found);
  if (fd >= 0) out = {fd, {}, false};
  return out;
}

std::string resolve_error(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (const int error = ::getaddrinfo(host.c_str(), nullptr, &hints, &found)) {
    return ::gai_strerror(error);
  }
  ::freeaddrinfo(found);
  return {};
}

Transfer receive(Socket socket, char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::recv(static_cast<int>(socket), buffer, size, 0);
    if (n > 0) return {Outcome::done, static_cast<std::size_t>(n)};
    if (n == 0) return {Outcome::ended, 0};
    if (errno != EINTR) return failed_unless_waiting(errno);
  }
}

Transfer send_some(Socket socket, const char* data, std::size_t size) {
  for (;;) {
    const ssize_t n = ::send(static_cast<int>(socket), data, size, MSG_NOSIGNAL);
    if (n >= 0) return {Outcome::done, static_cast<std::size_t>(n)};
    if (errno != EINTR) return failed_unless_waiting(errno);
  }
}

void send_without_delay(Socket socket) {
  const int on = 1;
  ::setsockopt(static_cast<int>(socket), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

std::size_t unsent(Socket socket) {
#ifdef SIOCOUTQ
  int queued = 0;
  if (::ioctl(static_cast<int>(socket), SIOCOUTQ, &queued) == 0 && queued > 0) {
    return static_cast<std::size_t>(queued);
  }
#else
  (void)socket;
#endif
  return 0;
}

void close_socket(Socket socket) {
  if (socket != kNoSocket) ::close(static_cast<int>(socket));
}

std::string last_error() { return std::strerror(errno); }

}  // namespace talmir880::platform
