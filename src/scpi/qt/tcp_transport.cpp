#include "scpi/qt/tcp_transport.hpp"

#include <QMetaObject>
#include <QSocketNotifier>

#include "device/deferred.hpp"
#include "net/allow_list.hpp"
#include "scpi/line_feeder.hpp"

namespace talmir880::scpi {

// One client's socket. Reading stops while the instrument has no room for
// its lines; what was read and not yet fed waits in `unfed_`.
class TcpTransport::Connection final : public ClientEvents {
 public:
  Connection(TcpTransport& owner, platform::Socket socket, const net::Address& peer)
      : owner_(owner),
        socket_(socket),
        peer_(peer),
        reader_(socket, QSocketNotifier::Read),
        writer_(socket, QSocketNotifier::Write),
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
    if (socket_ == platform::kNoSocket) return;  // gone: nobody to tell
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
    const platform::Transfer got = platform::receive(socket_, buffer, sizeof buffer);
    if (got.outcome == platform::Outcome::done) {
      unfed_.append(buffer, got.bytes);
    } else if (got.outcome == platform::Outcome::ended) {
      input_over_ = true;  // the client's orderly end of sending
    } else if (got.outcome == platform::Outcome::would_block) {
      return;
    } else {
      lost();
      return;
    }
    feed();
  }

  // The instrument's answers and room come once what it took is off unfed_.
  void feed() {
    unfed_.erase(0, lines_.feed(id_, unfed_));
    if (lines_.web_request() && refuse_web()) return;
    if (open()) reader_.setEnabled(unfed_.empty() && !input_over_);
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
    while (open() && sent_ < out_.size()) {
      const platform::Transfer put =
          platform::send_some(socket_, out_.data() + sent_, out_.size() - sent_);
      if (put.outcome == platform::Outcome::done) {
        sent_ += put.bytes;
      } else if (put.outcome == platform::Outcome::would_block) {
        writer_.setEnabled(true);
        return;
      } else {
        lost();
        return;
      }
    }
    out_.clear();
    sent_ = 0;
    if (open()) writer_.setEnabled(false);
    if (finished_ && open()) {
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

  bool open() const { return socket_ != platform::kNoSocket; }

  void close_socket() {
    if (!open()) return;
    reader_.setEnabled(false);
    writer_.setEnabled(false);
    platform::close_socket(socket_);
    socket_ = platform::kNoSocket;
    out_.clear();
    sent_ = 0;
  }

  TcpTransport& owner_;
  platform::Socket socket_;
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

net::Address address_of(const platform::Endpoint& endpoint) {
  net::Address out;
  out.bytes = endpoint.address;
  return out;
}

}  // namespace

TcpTransport::TcpTransport(Instrument& instrument) : instrument_(instrument), guard_(own_guard_) {}

TcpTransport::TcpTransport(Instrument& instrument, net::PeerGuard& guard)
    : instrument_(instrument), guard_(guard) {}

TcpTransport::~TcpTransport() {
  for (auto& [raw, connection] : connections_) instrument_.detach(connection->id());
  accepting_.reset();
  platform::close_socket(listener_);
}

bool TcpTransport::is_address(const std::string& host) { return platform::is_numeric_host(host); }

bool TcpTransport::listen(const std::string& host, int port, std::string& why) {
  const platform::Listener listener = platform::listen_tcp(host, port);
  if (listener.socket == platform::kNoSocket) {
    why = listener.error;
    return false;
  }
  listener_ = listener.socket;
  port_ = listener.port;
  accepting_ = std::make_unique<QSocketNotifier>(listener_, QSocketNotifier::Read);
  QObject::connect(accepting_.get(), &QSocketNotifier::activated, accepting_.get(),
                   [this] { accept_all(); });
  return true;
}

void TcpTransport::accept_all() {
  for (platform::Accepted next = platform::accept_next(listener_);
       next.socket != platform::kNoSocket; next = platform::accept_next(listener_)) {
    accept(next.socket, address_of(next.peer), next.peer.port);
  }
}

void TcpTransport::accept(platform::Socket socket, const net::Address& peer, int port) {
  if (!guard_.admit(peer, net::PeerGuard::Clock::now())) {
    platform::close_socket(socket);  // before a byte is read
    return;
  }
  auto connection = std::make_unique<Connection>(*this, socket, peer);
  const std::optional<ClientId> id =
      instrument_.attach(*connection, net::address_text(net::address_text(peer), port));
  // Refused cleanly: closed at once, nothing read.
  if (!id) return;
  // Each answer is one short line: waiting to fill a segment would only add
  // a round trip to the next query.
  platform::send_without_delay(socket);
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
