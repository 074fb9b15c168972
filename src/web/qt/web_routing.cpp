// WebServer's answers: which one a request gets (Host and Origin checked,
// then its route's page, script, document, login or upgrade; web/routes.hpp
// names the routes; web/ways_in.hpp says what the list and the
// identifications hold).
#include "web/qt/web_server.hpp"

#include <QFile>
#include <QHostInfo>
#include <QSslSocket>
#include <chrono>

#include "scpi/identity.hpp"
#include "web/http_request.hpp"
#include "web/list_page.hpp"
#include "web/lxi.hpp"
#include "web/qt/http_answer.hpp"
#include "web/qt/list_document.hpp"
#include "web/qt/lxi_document.hpp"
#include "web/qt/page_json.hpp"
#include "web/routes.hpp"
#include "web/ways_in.hpp"
#include "web/web_guard.hpp"
#include "web/websocket.hpp"

namespace talmir880::web {
namespace {

QByteArray resource(const QString& name) {
  QFile file(name);
  file.open(QIODevice::ReadOnly);
  return file.readAll();
}

}  // namespace

void WebServer::respond(QTcpSocket* socket, const Request& request) {
  const bool secure = qobject_cast<QSslSocket*>(socket) != nullptr;
  const std::string reached = host_text(socket->localAddress());
  const QString host_name = QHostInfo::localHostName().toLower();
  OwnNames own{
      {"localhost", reached, host_name.toStdString()}, secure ? https_port() : port(), secure};
  if (!host_name.isEmpty()) own.hosts.push_back(host_name.toStdString() + ".local");
  const std::string path(request.path());
  const Route to = route(path, generators_.size());
  // HEAD is GET without the body.
  const bool get = request.method == "GET" || request.method == "HEAD";
  const bool changes = !get || to.kind == Route::Kind::live;
  const Verdict verdict = judge(request, own, changes);
  if (verdict == Verdict::bad_host) {
    plain(socket, "421 Misdirected Request");
    return;
  }
  // Served over TLS, plain HTTP carries nothing but the identification,
  // which discovery tools fetch so: the rest is a redirect to it.
  if (!secure && tls_server_ && to.kind != Route::Kind::identification) {
    answer(socket, "308 Permanent Redirect", "text/plain; charset=utf-8",
           "308 Permanent Redirect\n",
           "Location: " + secure_location(*request.header("host"), https_port(), request.target));
    return;
  }
  if (verdict == Verdict::bad_origin) {
    plain(socket, "403 Forbidden");
    return;
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
        answer(socket, "200 OK", kHtml, list_html(listed(served(), offers(reached, local()))));
        return;
      case Route::Kind::asset:
        for (const Asset& asset : kAssets) {
          if (path != asset.path) continue;
          answer(socket, "200 OK", std::string(asset.type),
                 path == "/texts.js" ? texts_script()
                                     : resource(":/talmir880-web" + QString::fromStdString(path)));
          return;
        }
        break;
      case Route::Kind::identification: {
        const bool here = local();
        Identification id =
            identification(served(), to.generator, offers(reached, here), network, reached);
        id.host_name = QHostInfo::localHostName().toStdString();
        id.url = (secure ? "https://" : "http://") + std::string(*request.header("host")) + path;
        if (tls_server_) {
          id.homepage = secure_location(*request.header("host"), https_port(), "/");
          id.fingerprint = setup_.credentials.fingerprint;
        }
        answer(socket, "200 OK", "text/xml; charset=utf-8", identification_xml(id));
        return;
      }
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
      answer(socket, "204 No Content", {}, {}, "Set-Cookie: " + Sessions::expired_cookie(secure));
      return;
    }
    const std::optional<std::string> token = sessions_.log_in(body.toStdString(), now);
    if (!token) {
      plain(socket, "403 Forbidden");
      return;
    }
    answer(socket, "204 No Content", {}, {}, "Set-Cookie: " + Sessions::cookie(*token, secure));
    return;
  }
  plain(socket, "405 Method Not Allowed");
}

std::vector<ServedGenerator> WebServer::served() const {
  std::vector<ServedGenerator> out;
  for (const WebGenerator& g : generators_) {
    out.push_back({g.instrument->identity(), g.raw_port, g.instrument->device().port(),
                   g.instrument->device().held().rf});
  }
  return out;
}

Offers WebServer::offers(const std::string& reached, bool local) const {
  // VXI-11 on "::" is QTcpServer's AnyIPv6: IPv6 alone.
  return web::offers(
      {setup_.raw_host, true},
      setup_.vxi11 ? std::optional<Listening>({setup_.vxi11_host, false}) : std::nullopt, reached,
      local);
}

}  // namespace talmir880::web
