#include "scpi/qt/tcp_transport.hpp"

#include <QMetaObject>
#include <QTcpSocket>
#include <optional>
#include <vector>

namespace talmir880::scpi {

TcpTransport::TcpTransport(Instrument& instrument) : instrument_(instrument) {
  server_.setMaxPendingConnections(kMaxClients);
  QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { accept(); });
  instrument_.answer = [this](ClientId id, const std::string& text) { answer(id, text); };
}

TcpTransport::~TcpTransport() {
  instrument_.answer = nullptr;
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

void TcpTransport::accept() {
  while (QTcpSocket* socket = server_.nextPendingConnection()) {
    if (clients() >= kMaxClients) {
      // Refused cleanly: the connection closes at once, nothing is read.
      socket->abort();
      socket->deleteLater();
      continue;
    }
    // Every answer is one short line; waiting to fill a segment only adds
    // a round trip of delay to the next query.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const ClientId id = next_id_++;
    clients_.emplace(id, Client{socket, {}});
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, id] { read(id); });
    // Later, from the event loop: the instrument may be the one writing to
    // the socket when it goes, and must not be re-entered.
    QObject::connect(socket, &QTcpSocket::disconnected, &server_, [this, id] {
      QMetaObject::invokeMethod(&server_, [this, id] { drop(id); }, Qt::QueuedConnection);
    });
  }
}

void TcpTransport::read(ClientId id) {
  auto found = clients_.find(id);
  if (found == clients_.end()) return;
  Client& client = found->second;
  const QByteArray bytes = client.socket->readAll();
  // Lines first, then the instrument: an answer it gives at once may drop
  // this client. An empty entry stands for an overrun, in its place.
  std::vector<std::optional<std::string>> lines;
  client.lines.feed({bytes.constData(), static_cast<std::size_t>(bytes.size())},
                    [&lines](std::string line) { lines.emplace_back(std::move(line)); },
                    [&lines] { lines.emplace_back(); });
  for (auto& line : lines) {
    if (!clients_.contains(id) || !client.socket->isOpen()) return;
    if (line) {
      instrument_.submit(id, std::move(*line));
    } else {
      instrument_.overrun(id);
    }
  }
}

void TcpTransport::answer(ClientId id, const std::string& text) {
  auto found = clients_.find(id);
  if (found == clients_.end()) return;  // gone: the answer has nobody to go to
  QTcpSocket* socket = found->second.socket;
  socket->write(text.data(), static_cast<qint64>(text.size()));
  socket->write("\n", 1);
  if (socket->bytesToWrite() > kMaxUnread) socket->abort();  // and drop() follows
}

void TcpTransport::drop(ClientId id) {
  auto found = clients_.find(id);
  if (found == clients_.end()) return;
  QTcpSocket* socket = found->second.socket;
  clients_.erase(found);
  instrument_.forget(id);
  socket->deleteLater();
}

}  // namespace talmir880::scpi
