#pragma once

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "net/peer_guard.hpp"
#include "scpi/instrument.hpp"
#include "tls/credentials.hpp"
#include "web/qt/host_network.hpp"
#include "web/qt/tls_listener.hpp"
#include "web/qt/web_pages.hpp"
#include "web/reach.hpp"
#include "web/request_places.hpp"
#include "web/sessions.hpp"
#include "web/ways_in.hpp"

namespace talmir880::web {

// One generator the web face serves: its instrument and its raw socket's
// port (0 when it does not listen), for the resource strings.
struct WebGenerator {
  scpi::Instrument* instrument = nullptr;
  int raw_port = 0;
};

// Where the web face listens, and where the instruments' other ways in
// are, for the LXI identification.
struct WebSetup {
  bool http = true;  // plain HTTP; with https as well, it only redirects
  std::string host = "127.0.0.1";
  int port = 0;
  bool https = false;
  std::string https_host = "127.0.0.1";
  int https_port = 0;
  tls::Credentials credentials;                 // with https
  std::function<void(const std::string&)> log;  // a TLS handshake that failed
  std::string password;                         // empty: nobody beyond loopback may control
  std::string raw_host;
  bool vxi11 = false;
  std::string vxi11_host;
};

// The web face of the instruments: each one's front panel page and LXI
// identification over HTTP, and the page's live link over a WebSocket; with
// several, the list of them (the paths: web/routes.hpp). Each generator's
// pages are clients of its instrument alone; a session of the password is
// good for all of them.
//
// The HTTP side is a small handler of its own on QTcpServer, kept to this
// class (web_server.cpp the connections, web_routing.cpp which answer a
// request gets, http_answer.cpp the answer's bytes): one request a
// connection, its head and body bounded, read within a deadline, then
// answered and closed; the places of connections still reading are shared
// out by peer (RequestPlaces). Qt's HttpServer of
// Debian's 6.4 has no limits on what it buffers and no say over a
// WebSocket upgrade before it happens, and its interface changes after
// 6.4. The WebSocket is our own too (PageSocket), answered here: Debian's
// QtWebSockets 6.4 runs a client's unmasked frames and takes any key.
class WebServer {
 public:
  // Connections reading their request at once, and of them from one peer;
  // past either, the oldest of that peer (or of the peer holding the most)
  // is closed for the new one.
  static constexpr std::size_t kMaxRequests = 64;
  static constexpr std::size_t kMaxRequestsPerPeer = 8;
  // A request must have arrived whole by then.
  static constexpr int kRequestDeadlineMs = 5000;

  // `generators` in the server's order, at least one; generator i is
  // /inst<i>/ and VXI-11's inst<i>.
  WebServer(std::vector<WebGenerator> generators, net::PeerGuard& guard, WebSetup setup);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Every face asked for, or none: `why` names the one that could not.
  bool listen(std::string& why);
  int port() const { return server_.serverPort(); }
  int https_port() const { return tls_server_ ? tls_server_->serverPort() : 0; }

 private:
  void accept(QTcpServer& from);
  void read(QTcpSocket* socket, RequestPlaces::Id place);
  // web_routing.cpp: the answer to a request read whole.
  void respond(QTcpSocket* socket, const struct Request& request);
  void upgrade(QTcpSocket* socket, const struct Request& request, std::size_t generator,
               bool control);
  // The generators as the pages name them, and what a visitor who reached
  // `reached` is offered of their ways in (web/ways_in.hpp).
  std::vector<ServedGenerator> served() const;
  Offers offers(const std::string& reached, bool local) const;

  std::vector<WebGenerator> generators_;
  net::PeerGuard& guard_;
  WebSetup setup_;
  Sessions sessions_;
  QTcpServer server_;
  std::unique_ptr<TlsListener> tls_server_;
  std::vector<std::unique_ptr<WebPages>> pages_;  // one per generator
  RequestPlaces places_{kMaxRequests, kMaxRequestsPerPeer};
  RequestPlaces::Id next_place_ = 0;
  std::map<RequestPlaces::Id, QPointer<QTcpSocket>> reading_;
};

}  // namespace talmir880::web
