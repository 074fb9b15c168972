#include "scpi/qt/tcp_transport.hpp"

#include <QMetaObject>
#include <QTcpSocket>

namespace talmir880::scpi {
namespace {

// What Qt may buffer of a client we are not reading; then TCP holds it.
constexpr qint64 kReadBuffer = 64 * 1024;

}  // namespace

TcpTransport::TcpTransport(Instrument& instrument) : instrument_(instrument) {
  QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { accept(); });
  instrument_.answer = [this](ClientId id, const std::string& text) { answer(id, text); };
  instrument_.room = [this](ClientId id) {
    const auto found = clients_.find(id);
    if (found != clients_.end() && found->second.held) later(id, &TcpTransport::read);
  };
}

TcpTransport::~TcpTransport() {
  instrument_.answer = nullptr;
  instrument_.room = nullptr;
  for (auto& [id, client] : clients_) {
    QObject::disconnect(client.socket, nullptr, nullptr, nullptr);
    delete client.socket;
  }
}

bool TcpTransport::listen(const QHostAddress& address, quint16 port, std::string& why) {
  if (server_.listen(address, port)) return true;
  why = server_.errorString().toStdString();
  return false;
}

void TcpTransport::later(ClientId id, void (TcpTransport::*step)(ClientId)) {
  QMetaObject::invokeMethod(
      &server_, [this, id, step] { (this->*step)(id); }, Qt::QueuedConnection);
}

void TcpTransport::accept() {
  while (QTcpSocket* socket = server_.nextPendingConnection()) {
    if (static_cast<int>(clients_.size()) >= kMaxClients) {
      // Refused cleanly: closed at once, nothing read.
      socket->abort();
      socket->deleteLater();
      continue;
    }
    // Each answer is one short line: waiting to fill a segment would only
    // add a round trip to the next query.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket->setReadBufferSize(kReadBuffer);
    const ClientId id = next_id_++;
    clients_.emplace(id, Client{socket, {}});
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, id] { read(id); });
    QObject::connect(socket, &QTcpSocket::disconnected, &server_,
                     [this, id] { later(id, &TcpTransport::drop); });
  }
}

// A line at a time, while the instrument has room for this client's lines;
// the rest stays in the socket until it has.
void TcpTransport::read(ClientId id) {
  const auto found = clients_.find(id);
  if (found == clients_.end() || found->second.reading) return;
  Client& client = found->second;
  QTcpSocket* socket = client.socket;
  client.reading = true;
  client.held = false;
  while (socket->state() == QAbstractSocket::ConnectedState && socket->bytesAvailable() > 0) {
    if (instrument_.backlog(id) >= Instrument::kMaxBacklog) {
      client.held = true;
      break;
    }
    const QByteArray bytes = socket->readLine(4096);
    client.lines.feed_one(
        {bytes.constData(), static_cast<std::size_t>(bytes.size())},
        [this, id](std::string line) { instrument_.submit(id, std::move(line)); },
        [this, id] { instrument_.overrun(id); });
  }
  client.reading = false;
}

void TcpTransport::answer(ClientId id, const std::string& text) {
  const auto found = clients_.find(id);
  if (found == clients_.end()) return;  // gone: nobody to tell
  QTcpSocket* socket = found->second.socket;
  if (socket->state() != QAbstractSocket::ConnectedState) return;
  socket->write(text.data(), static_cast<qint64>(text.size()));
  socket->write("\n", 1);
  if (socket->bytesToWrite() > kMaxUnread) socket->abort();  // and drop() follows
}

void TcpTransport::drop(ClientId id) {
  const auto found = clients_.find(id);
  if (found == clients_.end()) return;
  QTcpSocket* socket = found->second.socket;
  clients_.erase(found);
  instrument_.forget(id);
  socket->deleteLater();
}

}  // namespace talmir880::scpi
