#include "web/qt/web_server.hpp"

#include <sys/socket.h>

#include <QCryptographicHash>
#include <QFile>
#include <QHostInfo>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "net/allow_list.hpp"
#include "scpi/identity.hpp"
#include "web/http_request.hpp"
#include "web/list_page.hpp"
#include "web/lxi.hpp"
#include "web/qt/lxi_document.hpp"
#include "web/qt/page_json.hpp"
#include "web/routes.hpp"
#include "web/web_guard.hpp"
#include "web/websocket.hpp"

namespace talmir880::web {
namespace {

net::Address address_of(const QHostAddress& host) {
  net::Address out;
  const Q_IPV6ADDR v6 = host.toIPv6Address();  // IPv4 as ::ffff:a.b.c.d
  for (int i = 0; i < 16; ++i) out.bytes[static_cast<std::size_t>(i)] = v6[i];
  return out;
}

// As a visitor writes it in Host: IPv4 dotted, IPv6 without its zone.
std::string host_text(const QHostAddress& host) {
  bool v4 = false;
  const quint32 mapped = host.toIPv4Address(&v4);
  QHostAddress plain = v4 ? QHostAddress(mapped) : host;
  plain.setScopeId({});
  return plain.toString().toLower().toStdString();
}

struct Asset {
  const char* path;
  const char* resource;
  const char* type;
};
constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr Asset kAssets[] = {
    {"/page.css", ":/talmir880-web/page.css", "text/css; charset=utf-8"},
    {"/page.js", ":/talmir880-web/page.js", "text/javascript; charset=utf-8"},
    {"/list.js", ":/talmir880-web/list.js", "text/javascript; charset=utf-8"},
    {"/lang.js", ":/talmir880-web/lang.js", "text/javascript; charset=utf-8"},
};

// Set on a connection whose request is HEAD: answered as GET, without the body.
constexpr const char* kHeadOnly = "talmir880_head_only";

QByteArray resource(const char* name) {
  QFile file(name);
  file.open(QIODevice::ReadOnly);
  return file.readAll();
}

// Each answer closes its connection: one request a connection keeps the
// handler small and a visitor's hold on it short. `header`: one more
// field, "Name: value", or nothing.
void answer(QTcpSocket* socket, const char* status, const std::string& type, const QByteArray& body,
            const std::string& header = {}) {
  std::string head = std::string("HTTP/1.1 ") + status + "\r\n";
  if (!type.empty()) head += "Content-Type: " + type + "\r\n";
  head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  if (!header.empty()) head += header + "\r\n";
  head +=
      "Cache-Control: no-store\r\n"
      "X-Content-Type-Options: nosniff\r\n"
      "X-Frame-Options: DENY\r\n"
      "Referrer-Policy: no-referrer\r\n"
      "Content-Security-Policy: default-src 'self'; connect-src 'self'; frame-ancestors 'none'; "
      "base-uri 'none'; form-action 'none'\r\n"
      "Connection: close\r\n\r\n";
  socket->write(head.data(), static_cast<qint64>(head.size()));
  if (!socket->property(kHeadOnly).toBool()) socket->write(body);
  socket->disconnectFromHost();
}

void plain(QTcpSocket* socket, const char* status) {
  answer(socket, status, "text/plain; charset=utf-8", QByteArray(status) + "\n");
}

}  // namespace

WebServer::WebServer(std::vector<WebGenerator> generators, net::PeerGuard& guard, WebSetup setup)
    : generators_(std::move(generators)),
      guard_(guard),
      setup_(std::move(setup)),
      sessions_(setup_.password, system_random_token) {
  for (const WebGenerator& generator : generators_) {
    pages_.push_back(std::make_unique<WebPages>(*generator.instrument, sessions_.password_set()));
  }
  // A burst of visitors waits in the system's queue, not refused by it.
  server_.setListenBacklogSize(SOMAXCONN);
  QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { accept(); });
}

WebServer::~WebServer() = default;

bool WebServer::listen(std::string& why) {
  const QHostAddress host = setup_.host == "localhost"
                                ? QHostAddress(QHostAddress::LocalHost)
                                : QHostAddress(QString::fromStdString(setup_.host));
  if (!server_.listen(host, static_cast<quint16>(setup_.port))) {
    // As the raw socket says it, in the system's words where it has them.
    switch (server_.serverError()) {
      case QAbstractSocket::AddressInUseError:
        why = std::strerror(EADDRINUSE);
        break;
      case QAbstractSocket::SocketAccessError:
        why = std::strerror(EACCES);
        break;
      case QAbstractSocket::SocketAddressNotAvailableError:
        why = std::strerror(EADDRNOTAVAIL);
        break;
      default:
        why = server_.errorString().toStdString();
    }
    return false;
  }
  return true;
}

void WebServer::accept() {
  while (QTcpSocket* socket = server_.nextPendingConnection()) {
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
  socket->setProperty(kHeadOnly, head.state == Reading::done && request.method == "HEAD");
  if (head.state == Reading::malformed) {
    plain(socket, "400 Bad Request");
  } else if (head.state == Reading::too_large) {
    plain(socket, "431 Request Header Fields Too Large");
  } else {
    respond(socket, request);
  }
}

void WebServer::respond(QTcpSocket* socket, const Request& request) {
  const std::string reached = host_text(socket->localAddress());
  const QString host_name = QHostInfo::localHostName().toLower();
  OwnNames own{{"localhost", reached, host_name.toStdString()}, server_.serverPort()};
  if (!host_name.isEmpty()) own.hosts.push_back(host_name.toStdString() + ".local");
  const std::string path(request.path());
  const Route to = route(path, generators_.size());
  // HEAD is GET without the body.
  const bool get = request.method == "GET" || request.method == "HEAD";
  const bool changes = !get || to.kind == Route::Kind::live;
  switch (judge(request, own, changes)) {
    case Verdict::bad_host:
      plain(socket, "421 Misdirected Request");
      return;
    case Verdict::bad_origin:
      plain(socket, "403 Forbidden");
      return;
    case Verdict::ok:
      break;
  }
  const auto now = std::chrono::steady_clock::now();
  const std::string cookie(request.header("cookie").value_or(""));
  // Whether the visitor is this machine, asked of the system only where
  // it matters.
  HostNetwork network;
  const auto local = [&network, socket] {
    network = host_network();
    return own_address(address_of(socket->peerAddress()), network.addresses);
  };

  if (get) {
    switch (to.kind) {
      case Route::Kind::live:
        if (request.method != "GET" || !request.upgrade() ||
            request.header("sec-websocket-version") != "13" ||
            !valid_websocket_key(request.header("sec-websocket-key").value_or(""))) {
          plain(socket, "400 Bad Request");
          return;
        }
        upgrade(socket, request, *to.generator,
                may_control(local(), sessions_.password_set(), sessions_.valid(cookie, now)));
        return;
      case Route::Kind::panel:
        answer(socket, "200 OK", kHtml, resource(":/talmir880-web/index.html"));
        return;
      case Route::Kind::list:
        answer(socket, "200 OK", kHtml, QByteArray::fromStdString(list(reached, local())));
        return;
      case Route::Kind::asset:
        if (path == "/texts.js") {
          answer(socket, "200 OK", "text/javascript; charset=utf-8", texts_script());
          return;
        }
        for (const Asset& asset : kAssets) {
          if (path != asset.path) continue;
          answer(socket, "200 OK", asset.type, resource(asset.resource));
          return;
        }
        break;
      case Route::Kind::identification:
        answer(socket, "200 OK", "text/xml; charset=utf-8",
               identification(to.generator, reached, local(), network,
                              "http://" + std::string(*request.header("host")) + path));
        return;
      case Route::Kind::moved:
        answer(socket, "301 Moved Permanently", "text/plain; charset=utf-8",
               "301 Moved Permanently\n", "Location: " + generator_path(*to.generator));
        return;
      case Route::Kind::login:
      case Route::Kind::logout:
      case Route::Kind::not_found:
        break;
    }
    plain(socket, "404 Not Found");
    return;
  }
  if (request.method == "POST" &&
      (to.kind == Route::Kind::login || to.kind == Route::Kind::logout)) {
    const QByteArray body =
        socket->read(static_cast<qint64>(request.head_size + request.content_length))
            .mid(static_cast<qsizetype>(request.head_size));
    if (to.kind == Route::Kind::logout) {
      sessions_.log_out(cookie);
      answer(socket, "204 No Content", {}, {}, "Set-Cookie: " + Sessions::expired_cookie());
      return;
    }
    const std::optional<std::string> token = sessions_.log_in(body.toStdString(), now);
    if (!token) {
      plain(socket, "403 Forbidden");
      return;
    }
    answer(socket, "204 No Content", {}, {}, "Set-Cookie: " + Sessions::cookie(*token));
    return;
  }
  plain(socket, "405 Method Not Allowed");
}

WebServer::Offers WebServer::offers(const std::string& reached, bool local) const {
  Offers out;
  out.raw = offer({setup_.raw_host, true}, reached, local);
  // VXI-11 on "::" is QTcpServer's AnyIPv6: IPv6 alone.
  if (setup_.vxi11) out.instr = offer({setup_.vxi11_host, false}, reached, local);
  return out;
}

QByteArray WebServer::identification(std::optional<std::size_t> generator,
                                     const std::string& reached, bool local,
                                     const HostNetwork& network, const std::string& url) const {
  // The server's own document names the model, no one generator (its
  // serial field "0", as an unnamed one's), and every way in to each.
  Identification id;
  id.identity = generator ? generators_[*generator].instrument->identity() : scpi::identity();
  id.host_name = QHostInfo::localHostName().toStdString();
  id.url = url;
  id.reached = network_info(reached, network.interfaces, network.gateways);
  if (!generator) id.description = std::to_string(generators_.size()) + " RF signal generators";
  const Offers offered = offers(reached, local);
  const auto way = [&](const Offer& offer, const char* name, auto resource) {
    if (offer.this_machine_only) id.this_machine_only.push_back(name);
    if (offer.host.empty()) return;
    WayIn in{{}, network_info(offer.host, network.interfaces, network.gateways)};
    for (std::size_t i = 0; i < generators_.size(); ++i) {
      if (generator && *generator != i) continue;
      const std::string r = resource(offer.host, i);
      if (!r.empty()) in.resources.push_back(r);
    }
    if (!in.resources.empty()) id.ways.push_back(std::move(in));
  };
  way(offered.raw, "SOCKET", [this](const std::string& host, std::size_t i) {
    const int port = generators_[i].raw_port;
    return port > 0 ? socket_resource(host, port) : std::string();
  });
  way(offered.instr, "INSTR", [this](const std::string& host, std::size_t i) {
    return instr_resource(host, generators_.size() == 1 ? "" : "inst" + std::to_string(i));
  });
  return identification_xml(id);
}

std::string WebServer::list(const std::string& reached, bool local) const {
  const Offers offered = offers(reached, local);
  std::vector<ListedGenerator> listed;
  for (std::size_t i = 0; i < generators_.size(); ++i) {
    scpi::Instrument& instrument = *generators_[i].instrument;
    ListedGenerator g{instrument.identity().serial,
                      {},
                      {},
                      instrument.device().port(),
                      instrument.device().held().rf};
    if (!offered.raw.host.empty() && generators_[i].raw_port > 0) {
      g.socket_resource = socket_resource(offered.raw.host, generators_[i].raw_port);
    }
    if (!offered.instr.host.empty()) {
      g.instr_resource = instr_resource(offered.instr.host, "inst" + std::to_string(i));
    }
    g.socket_this_machine_only = offered.raw.this_machine_only && generators_[i].raw_port > 0;
    g.instr_this_machine_only = offered.instr.this_machine_only;
    listed.push_back(std::move(g));
  }
  return list_html(listed);
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
