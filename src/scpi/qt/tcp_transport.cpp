#include "scpi/qt/tcp_transport.hpp"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QMetaObject>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "device/deferred.hpp"
#include "net/allow_list.hpp"
#include "scpi/line_feeder.hpp"

namespace talmir880::scpi {

// One client's socket. Reading stops while the instrument has no room for
// its lines; what was read and not yet fed waits in `unfed_`.
class TcpTransport::Connection final : public ClientEvents {
 public:
  Connection(TcpTransport& owner, int fd, const net::Address& peer)
      : owner_(owner),
        fd_(fd),
        peer_(peer),
        reader_(fd, QSocketNotifier::Read),
        writer_(fd, QSocketNotifier::Write),
        lines_(owner.instrument_, LineFeeder::Guard::web) {
    writer_.setEnabled(false);
    QObject::connect(&reader_, &QSocketNotifier::activated, &reader_, [this] { readable(); });
    QObject::connect(&writer_, &QSocketNotifier::activated, &writer_, [this] { flush(); });
  }
  ~Connection() override { close_socket(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void start(ClientId id) { id_ = id; }
  ClientId id() const { return id_; }

  void answer(std::string text) override {
    if (fd_ < 0) return;  // gone: nobody to tell
    out_.append(text).push_back('\n');
    if (out_.size() - sent_ > kMaxUnread) {
      lost();
    } else {
      flush();
    }
  }
  // The instrument has returned from the line that finished.
  void room() override { feed(); }
  void finished() override {
    finished_ = true;
    flush();
  }

 private:
  void readable() {
    char buffer[4096];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n > 0) {
      unfed_.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0) {
      input_over_ = true;  // the client's orderly end of sending
    } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
      return;
    } else {
      lost();
      return;
    }
    feed();
  }

  // The instrument's answers and room come once what it took is off unfed_.
  void feed() {
    const Deferred::Door door;
    unfed_.erase(0, lines_.feed(id_, unfed_));
    if (lines_.web_request() && refuse_web()) return;
    if (fd_ >= 0) reader_.setEnabled(unfed_.empty() && !input_over_);
    if (!input_over_ || !unfed_.empty() || told_end_) return;
    if (aborted_) {
      // The partial line may have been cut: dropped.
      told_end_ = true;
      leave();
      return;
    }
    // The client finished its last line itself by ending.
    if (!lines_.end(id_)) return;  // room() comes back
    if (lines_.web_request() && refuse_web()) return;
    told_end_ = true;
    owner_.instrument_.end_of_input(id_);
  }

  void flush() {
    while (fd_ >= 0 && sent_ < out_.size()) {
      const ssize_t n = ::send(fd_, out_.data() + sent_, out_.size() - sent_, MSG_NOSIGNAL);
      if (n >= 0) {
        sent_ += static_cast<std::size_t>(n);
      } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
        writer_.setEnabled(true);
        return;
      } else if (errno != EINTR) {
        lost();
        return;
      }
    }
    out_.clear();
    sent_ = 0;
    if (fd_ >= 0) writer_.setEnabled(false);
    if (finished_ && fd_ >= 0) {
      close_socket();
      leave();
    }
  }

  // A reset, an error, or a client that does not read: what it sent in full
  // still runs, nothing more is read or written.
  void lost() {
    if (aborted_) return;
    aborted_ = true;
    input_over_ = true;
    close_socket();
    if (told_end_) {
      leave();
    } else {
      room();
    }
  }

  // Closed at once, what is left unread dropped; the lines submitted
  // before the web line still run, as after a reset. True when feed()
  // comes back through room(); false when the connection was lost already
  // and feed() goes on to leave.
  bool refuse_web() {
    if (web_told_) return false;
    web_told_ = true;
    owner_.guard_.closed_web_request(peer_, net::PeerGuard::Clock::now());
    unfed_.clear();
    if (aborted_) return false;
    lost();
    return true;
  }

  void leave() {
    if (left_) return;
    left_ = true;
    owner_.instrument_.detach(id_);
    owner_.remove_later(this);
  }

  void close_socket() {
    if (fd_ < 0) return;
    reader_.setEnabled(false);
    writer_.setEnabled(false);
    ::close(fd_);
    fd_ = -1;
    out_.clear();
    sent_ = 0;
  }

  TcpTransport& owner_;
  int fd_;
  net::Address peer_;
  ClientId id_ = 0;
  QSocketNotifier reader_;
  QSocketNotifier writer_;
  LineFeeder lines_;
  std::string unfed_;
  std::string out_;
  std::size_t sent_ = 0;
  bool input_over_ = false;
  bool aborted_ = false;
  bool told_end_ = false;
  bool finished_ = false;
  bool left_ = false;
  bool web_told_ = false;
};

namespace {

std::string numeric(const std::string& host) { return host == "localhost" ? "127.0.0.1" : host; }

// The address of a numeric host, or nothing.
addrinfo* resolve(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(numeric(host).c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
    return nullptr;
  }
  return found;
}

// IPv4 peers as the allow list holds them, mapped.
net::Address peer_address(const sockaddr_storage& from) {
  if (from.ss_family == AF_INET) {
    return net::Address::ipv4(ntohl(reinterpret_cast<const sockaddr_in&>(from).sin_addr.s_addr));
  }
  net::Address out;
  if (from.ss_family == AF_INET6) {
    const in6_addr& address = reinterpret_cast<const sockaddr_in6&>(from).sin6_addr;
    std::copy(address.s6_addr, address.s6_addr + 16, out.bytes.begin());
  }
  return out;
}

int peer_port(const sockaddr_storage& from) {
  return ntohs(from.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(from).sin6_port
                                          : reinterpret_cast<const sockaddr_in&>(from).sin_port);
}

}  // namespace

TcpTransport::TcpTransport(Instrument& instrument) : instrument_(instrument), guard_(own_guard_) {}

TcpTransport::TcpTransport(Instrument& instrument, net::PeerGuard& guard)
    : instrument_(instrument), guard_(guard) {}

TcpTransport::~TcpTransport() {
  for (auto& [raw, connection] : connections_) instrument_.detach(connection->id());
  accepting_.reset();
  if (listener_ >= 0) ::close(listener_);
}

bool TcpTransport::is_address(const std::string& host) {
  addrinfo* found = resolve(host, 0);
  if (found != nullptr) ::freeaddrinfo(found);
  return found != nullptr;
}

bool TcpTransport::listen(const std::string& host, int port, std::string& why) {
  addrinfo* found = resolve(host, port);
  if (found == nullptr) {
    why = host + " is not an IP address";
    return false;
  }
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
    why = std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  listener_ = fd;
  port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(bound).sin6_port
                                            : reinterpret_cast<sockaddr_in&>(bound).sin_port);
  accepting_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  QObject::connect(accepting_.get(), &QSocketNotifier::activated, accepting_.get(),
                   [this] { accept_all(); });
  return true;
}

void TcpTransport::accept_all() {
  for (;;) {
    sockaddr_storage from{};
    socklen_t length = sizeof from;
    const int fd = ::accept4(listener_, reinterpret_cast<sockaddr*>(&from), &length,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
      accept(fd, peer_address(from), peer_port(from));
    } else if (errno != EINTR && errno != ECONNABORTED) {
      return;  // EAGAIN: all taken; anything else: the next one tells
    }
  }
}

void TcpTransport::accept(int fd, const net::Address& peer, int port) {
  if (!guard_.admit(peer, net::PeerGuard::Clock::now())) {
    ::close(fd);  // before a byte is read
    return;
  }
  auto connection = std::make_unique<Connection>(*this, fd, peer);
  const std::optional<ClientId> id =
      instrument_.attach(*connection, net::address_text(net::address_text(peer), port));
  // Refused cleanly: closed at once, nothing read.
  if (!id) return;
  // Each answer is one short line: waiting to fill a segment would only add
  // a round trip to the next query.
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  connection->start(*id);
  Connection* raw = connection.get();
  connections_.emplace(raw, std::move(connection));
}

void TcpTransport::remove_later(Connection* connection) {
  QMetaObject::invokeMethod(
      accepting_.get(), [this, connection] { connections_.erase(connection); },
      Qt::QueuedConnection);
}

}  // namespace talmir880::scpi
