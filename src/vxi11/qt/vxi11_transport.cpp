#include "vxi11/qt/vxi11_transport.hpp"

#include <sys/socket.h>

#include "net/allow_list.hpp"

#include <QMetaObject>
#include <QTcpSocket>
#include <algorithm>
#include <chrono>
#include <iterator>
#include <utility>

namespace talmir880::vxi11 {
namespace {

// What Qt may buffer of a connection we are not reading; then TCP holds it.
constexpr qint64 kReadBuffer = 64 * 1024;
// Replies not yet taken by the client: past this its next calls wait.
constexpr qint64 kMaxUnsent = 256 * 1024;

// IPv4 peers as the allow list holds them, mapped.
net::Address peer_address(const QHostAddress& address) {
  if (address.protocol() == QAbstractSocket::IPv4Protocol) {
    return net::Address::ipv4(address.toIPv4Address());
  }
  net::Address out;
  const Q_IPV6ADDR bytes = address.toIPv6Address();
  std::copy(std::begin(bytes.c), std::end(bytes.c), out.bytes.begin());
  return out;
}

}  // namespace

class Vxi11Transport::Connection final : public ConnectionEvents {
 public:
  Connection(Vxi11Transport& transport, QTcpSocket* socket)
      : transport_(transport), socket(socket) {}

  void reply(std::string message) override {
    const std::string record = frame_record(message);
    socket->write(record.data(), static_cast<qint64>(record.size()));
    // Its next call may be waiting behind the one just answered.
    transport_.later(id, &Vxi11Transport::read);
    transport_.arm();
  }
  void overflow() override { transport_.later(id, &Vxi11Transport::drop); }

  Vxi11Transport& transport_;
  QTcpSocket* socket;
  ConnectionId id = 0;
  RecordReader records;
  bool reading = false;
};

Vxi11Transport::Vxi11Transport(std::vector<scpi::Instrument*> instruments, net::PeerGuard& guard)
    : guard_(guard), channel_(std::move(instruments)) {
  QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { accept(); });
  deadline_.setSingleShot(true);
  QObject::connect(&deadline_, &QTimer::timeout, &server_, [this] {
    channel_.tick(Clock::now());
    arm();
  });
}

Vxi11Transport::~Vxi11Transport() {
  for (auto& [id, connection] : connections_) {
    QObject::disconnect(connection->socket, nullptr, nullptr, nullptr);
    channel_.close(id);
    delete connection->socket;
  }
}

bool Vxi11Transport::listen(const QHostAddress& address, quint16 port, std::string& why) {
  // A burst of clients waits in the system's queue: one it drops retries
  // only after a second.
  server_.setListenBacklogSize(SOMAXCONN);
  if (server_.listen(address, port)) return true;
  why = server_.errorString().toStdString();
  return false;
}

void Vxi11Transport::later(ConnectionId id, void (Vxi11Transport::*step)(ConnectionId)) {
  QMetaObject::invokeMethod(
      &server_, [this, id, step] { (this->*step)(id); }, Qt::QueuedConnection);
}

void Vxi11Transport::arm() {
  const std::optional<Clock::time_point> next = channel_.next_deadline();
  if (!next) {
    deadline_.stop();
    return;
  }
  using std::chrono::milliseconds;
  const auto wait = std::chrono::ceil<milliseconds>(*next - Clock::now());
  deadline_.start(static_cast<int>(std::clamp<milliseconds::rep>(wait.count(), 0, 1 << 30)));
}

void Vxi11Transport::accept() {
  while (QTcpSocket* socket = server_.nextPendingConnection()) {
    if (static_cast<int>(connections_.size()) >= kMaxConnections ||
        !guard_.admit(peer_address(socket->peerAddress()), net::PeerGuard::Clock::now())) {
      socket->abort();
      socket->deleteLater();
      continue;
    }
    // A reply is one short record the client waits for.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket->setReadBufferSize(kReadBuffer);
    auto connection = std::make_unique<Connection>(*this, socket);
    const ConnectionId id = channel_.open(
        *connection,
        net::address_text(socket->peerAddress().toString().toStdString(), socket->peerPort()));
    connection->id = id;
    connections_.emplace(id, std::move(connection));
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, id] { read(id); });
    QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [this, id] { read(id); });
    QObject::connect(socket, &QTcpSocket::disconnected, &server_,
                     [this, id] { later(id, &Vxi11Transport::drop); });
  }
}

void Vxi11Transport::read(ConnectionId id) {
  const auto found = connections_.find(id);
  if (found == connections_.end() || found->second->reading) return;
  Connection& connection = *found->second;
  QTcpSocket* socket = connection.socket;
  connection.reading = true;
  while (socket->state() == QAbstractSocket::ConnectedState && socket->bytesAvailable() > 0 &&
         !channel_.busy(id) && socket->bytesToWrite() < kMaxUnsent) {
    const QByteArray bytes = socket->read(static_cast<qint64>(connection.records.wanted()));
    connection.records.feed({bytes.constData(), static_cast<std::size_t>(bytes.size())});
    if (connection.records.failed()) {
      // A record past the bound: the stream cannot be resynchronised.
      socket->abort();
      break;
    }
    if (connection.records.has_record()) {
      channel_.call(id, connection.records.take_record(), Clock::now());
      arm();
    }
  }
  connection.reading = false;
}

void Vxi11Transport::drop(ConnectionId id) {
  const auto found = connections_.find(id);
  if (found == connections_.end()) return;
  QTcpSocket* socket = found->second->socket;
  QObject::disconnect(socket, nullptr, nullptr, nullptr);
  socket->abort();
  channel_.close(id);
  connections_.erase(found);
  socket->deleteLater();
  arm();
}

}  // namespace talmir880::vxi11
