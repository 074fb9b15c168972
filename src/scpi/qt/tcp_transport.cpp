#include "scpi/qt/tcp_transport.hpp"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QMetaObject>
#include <QSocketNotifier>
#include <cerrno>

#include "scpi/line_splitter.hpp"

namespace talmir880::scpi {

// One client's socket. Reading stops while the instrument has no room for
// its lines; what was read and not yet fed waits in `unfed_`.
class TcpTransport::Connection final : public ClientEvents {
 public:
  Connection(TcpTransport& owner, int fd)
      : owner_(owner),
        fd_(fd),
        reader_(fd, QSocketNotifier::Read),
        writer_(fd, QSocketNotifier::Write) {
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
  // From the event loop: the instrument is still busy with the line that
  // just finished. The reader is the context, so a call queued for a
  // connection removed since is dropped.
  void room() override {
    QMetaObject::invokeMethod(
        &reader_, [this] { feed(); }, Qt::QueuedConnection);
  }
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

  void feed() {
    Instrument& instrument = owner_.instrument_;
    auto submit = [&instrument, this](std::string line) {
      instrument.submit(id_, std::move(line));
    };
    auto overrun = [&instrument, this] { instrument.overrun(id_); };
    while (!unfed_.empty() && instrument.backlog(id_) < Instrument::kMaxBacklog) {
      unfed_.erase(0, lines_.feed_one(unfed_, submit, overrun));
    }
    if (fd_ >= 0) reader_.setEnabled(unfed_.empty() && !input_over_);
    if (!input_over_ || !unfed_.empty() || told_end_) return;
    if (aborted_) {
      // The partial line may have been cut: dropped.
      told_end_ = true;
      leave();
      return;
    }
    // The client finished its last line itself by ending.
    if (!lines_.partial().empty()) {
      if (instrument.backlog(id_) >= Instrument::kMaxBacklog) return;  // room() comes back
      lines_.feed_one("\n", submit, overrun);
    }
    told_end_ = true;
    instrument.end_of_input(id_);
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
  ClientId id_ = 0;
  QSocketNotifier reader_;
  QSocketNotifier writer_;
  LineSplitter lines_;
  std::string unfed_;
  std::string out_;
  std::size_t sent_ = 0;
  bool input_over_ = false;
  bool aborted_ = false;
  bool told_end_ = false;
  bool finished_ = false;
  bool left_ = false;
};

TcpTransport::TcpTransport(Instrument& instrument) : instrument_(instrument), server_(*this) {}

TcpTransport::~TcpTransport() {
  for (auto& [raw, connection] : connections_) instrument_.detach(connection->id());
}

bool TcpTransport::listen(const QHostAddress& address, quint16 port, std::string& why) {
  if (server_.listen(address, port)) return true;
  why = server_.errorString().toStdString();
  return false;
}

void TcpTransport::accept(qintptr descriptor) {
  const int fd = static_cast<int>(descriptor);
  auto connection = std::make_unique<Connection>(*this, fd);
  const std::optional<ClientId> id = instrument_.attach(*connection);
  // Refused cleanly: closed at once, nothing read.
  if (!id) return;
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
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
      &server_, [this, connection] { connections_.erase(connection); }, Qt::QueuedConnection);
}

}  // namespace talmir880::scpi
