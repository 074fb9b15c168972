// WebServer's answers: which one a request gets (Host and Origin checked,
// then its route's page, script, document, login or upgrade; web/routes.hpp
// names the routes), and what the list and the identifications hold.
#include "web/qt/web_server.hpp"

#include <QFile>
#include <QHostInfo>
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
#include "web/web_guard.hpp"
#include "web/websocket.hpp"

namespace talmir880::web {
namespace {

struct Asset {
  const char* path;
  const char* resource;
  const char* type;
};
constexpr Asset kAssets[] = {
    {"/page.css", ":/talmir880-web/page.css", "text/css; charset=utf-8"},
    {"/page.js", ":/talmir880-web/page.js", "text/javascript; charset=utf-8"},
    {"/list.js", ":/talmir880-web/list.js", "text/javascript; charset=utf-8"},
    {"/lang.js", ":/talmir880-web/lang.js", "text/javascript; charset=utf-8"},
};

QByteArray resource(const char* name) {
  QFile file(name);
  file.open(QIODevice::ReadOnly);
  return file.readAll();
}

}  // namespace

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
        answer(socket, "200 OK", kHtml, list(reached, local()));
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

QByteArray WebServer::list(const std::string& reached, bool local) const {
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

}  // namespace talmir880::web
