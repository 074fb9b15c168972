#include "web/qt/web_server.hpp"

#include <QCryptographicHash>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "net/allow_list.hpp"
#include "platform/sockets.hpp"
#include "web/http_request.hpp"
#include "web/qt/http_answer.hpp"
#include "web/websocket.hpp"

namespace talmir880::web {

WebServer::WebServer(std::vector<WebGenerator> generators, net::PeerGuard& guard, WebSetup setup)
    : generators_(std::move(generators)),
      guard_(guard),
      setup_(std::move(setup)),
      sessions_(setup_.password, system_random_token) {
  for (const WebGenerator& generator : generators_) {
    pages_.push_back(std::make_unique<WebPages>(*generator.instrument, sessions_.password_set()));
  }
  if (setup_.https) tls_server_ = std::make_unique<TlsListener>(setup_.credentials, setup_.log);
  for (QTcpServer* listener : {&server_, static_cast<QTcpServer*>(tls_server_.get())}) {
    if (listener == nullptr) continue;
    // A burst of visitors waits in the system's queue, not refused by it.
    listener->setListenBacklogSize(platform::longest_listen_queue());
    QObject::connect(listener, &QTcpServer::newConnection, listener,
                     [this, listener] { accept(*listener); });
  }
}

WebServer::~WebServer() = default;

namespace {

// Why names the address, then the fault.
bool listen_on(QTcpServer& server, const std::string& host_text, int port, std::string& why) {
  const QHostAddress host = host_text == "localhost"
                                ? QHostAddress(QHostAddress::LocalHost)
                                : QHostAddress(QString::fromStdString(host_text));
  if (server.listen(host, static_cast<quint16>(port))) return true;
  why = net::address_text(host_text, port) + ": ";
  // As the raw socket says it, in the system's words where it has them.
  switch (server.serverError()) {
    case QAbstractSocket::AddressInUseError:
      why += std::strerror(EADDRINUSE);
      break;
    case QAbstractSocket::SocketAccessError:
      why += std::strerror(EACCES);
      break;
    case QAbstractSocket::SocketAddressNotAvailableError:
      why += std::strerror(EADDRNOTAVAIL);
      break;
    default:
      why += server.errorString().toStdString();
  }
  return false;
}

}  // namespace

bool WebServer::listen(std::string& why) {
  if (setup_.http && !listen_on(server_, setup_.host, setup_.port, why)) return false;
  if (!tls_server_) return true;
  if (!TlsListener::available()) {
    why = net::address_text(setup_.https_host, setup_.https_port) +
          ": TLS is not available (Qt's OpenSSL backend is missing)";
    return false;
  }
  return listen_on(*tls_server_, setup_.https_host, setup_.https_port, why);
}

void WebServer::accept(QTcpServer& from) {
  while (QTcpSocket* socket = from.nextPendingConnection()) {
    const net::Address peer = address_of(socket->peerAddress());
    if (!guard_.admit(peer, std::chrono::steady_clock::now())) {
      socket->abort();
      socket->deleteLater();
      continue;
    }
    // The place that would give way reads first what has come for it: a
    // request that arrived whole is answered and leaves by itself, so only
    // a connection that has not sent its request gives way.
    for (std::optional<RequestPlaces::Id> way = places_.giving_way(peer); way;) {
      const auto at = reading_.find(*way);
      if (at == reading_.end() || !at->second) break;
      at->second->waitForReadyRead(0);
      const std::optional<RequestPlaces::Id> next = places_.giving_way(peer);
      way = next != way ? next : std::nullopt;
    }
    const RequestPlaces::Id place = ++next_place_;
    if (const std::optional<RequestPlaces::Id> closed = places_.take(place, peer)) {
      const auto at = reading_.find(*closed);
      if (at != reading_.end() && at->second) at->second->abort();
      reading_.erase(*closed);
    }
    reading_.emplace(place, socket);
    // Qt stops reading the system's socket when this is full: a head and
    // a body at most.
    socket->setReadBufferSize(static_cast<qint64>(kMaxHead + kMaxBody));
    auto* deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, socket, [socket] { socket->abort(); });
    deadline->start(kRequestDeadlineMs);
    QObject::connect(socket, &QTcpSocket::readyRead, socket,
                     [this, socket, place] { read(socket, place); });
    QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket, place] {
      places_.give_back(place);
      reading_.erase(place);
      socket->deleteLater();
    });
    // A browser's request is there as soon as its connection: answered now,
    // it gives its place back before anyone connecting after it needs one.
    socket->waitForReadyRead(0);
  }
}

void WebServer::read(QTcpSocket* socket, RequestPlaces::Id place) {
  // Peeked, not read: an upgrade's bytes after its head are the page's.
  const QByteArray bytes = socket->peek(static_cast<qint64>(kMaxHead + kMaxBody));
  const ReadResult head = read_head(std::string_view(bytes.constData(), bytes.size()));
  const Request& request = head.request;
  if (head.state == Reading::incomplete ||
      (head.state == Reading::done &&
       static_cast<std::size_t>(bytes.size()) < request.head_size + request.content_length)) {
    places_.started(place);
    return;
  }
  // One answer a connection: what comes after it is not read, and the
  // place goes to the next visitor.
  QObject::disconnect(socket, &QTcpSocket::readyRead, socket, nullptr);
  places_.give_back(place);
  reading_.erase(place);
  set_head_only(socket, head.state == Reading::done && request.method == "HEAD");
  if (head.state == Reading::malformed) {
    plain(socket, "400 Bad Request");
  } else if (head.state == Reading::too_large) {
    plain(socket, "431 Request Header Fields Too Large");
  } else {
    respond(socket, request);
  }
}

void WebServer::upgrade(QTcpSocket* socket, const Request& request, std::size_t generator,
                        bool control) {
  // The connection is the page's from here: the deadline and our handlers
  // go, and its request's bytes with them.
  QObject::disconnect(socket, nullptr, socket, nullptr);
  for (QTimer* timer : socket->findChildren<QTimer*>()) timer->deleteLater();
  socket->setReadBufferSize(0);
  socket->read(static_cast<qint64>(request.head_size + request.content_length));
  const QByteArray key =
      QByteArray::fromStdString(std::string(*request.header("sec-websocket-key")));
  const QByteArray accept = QCryptographicHash::hash(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11",
                                                     QCryptographicHash::Sha1)
                                .toBase64();
  socket->write(
      "HTTP/1.1 101 Switching Protocols\r\n"
      "Upgrade: websocket\r\n"
      "Connection: Upgrade\r\n"
      "Sec-WebSocket-Accept: " +
      accept + "\r\n\r\n");
  const std::string who =
      net::address_text(net::address_text(address_of(socket->peerAddress())), socket->peerPort()) +
      " web";
  pages_[generator]->add(std::make_unique<PageSocket>(socket, WebPages::limits()), control, who);
}

}  // namespace talmir880::web
