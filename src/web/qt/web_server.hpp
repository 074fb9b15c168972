#pragma once

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocketServer>
#include <map>
#include <memory>
#include <string>

#include "scpi/instrument.hpp"
#include "scpi/peer_guard.hpp"
#include "web/qt/web_pages.hpp"
#include "web/sessions.hpp"

namespace talmir880::web {

// What the web face serves and where the instrument's other ways in are,
// for the LXI identification.
struct WebSetup {
  std::string host = "127.0.0.1";
  int port = 0;
  std::string password;  // empty: nobody beyond loopback may control
  int raw_port = 0;      // the raw socket's port; 0 when it does not listen
  std::string raw_host;
  bool vxi11 = false;
  std::string vxi11_host;
};

// The web face of the instrument: the front panel page and the LXI
// identification over HTTP, and the page's live link on /ws.
//
// The HTTP side is a small handler of its own on QTcpServer, kept to this
// class: one request a connection, its head and body bounded, read within
// a deadline, then answered and closed. Qt's HttpServer of Debian's 6.4 has
// no limits on what it buffers and no say over a WebSocket upgrade before
// it happens, and its interface changes after 6.4. The WebSocket itself is
// QtWebSockets': a checked upgrade request is handed to QWebSocketServer
// with its bytes still unread.
class WebServer {
 public:
  // Connections reading their request at once; more are closed.
  static constexpr int kMaxRequests = 32;
  // A request must have arrived whole by then.
  static constexpr int kRequestDeadlineMs = 5000;

  WebServer(scpi::Instrument& instrument, scpi::PeerGuard& guard, WebSetup setup);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  bool listen(std::string& why);
  int port() const { return server_.serverPort(); }

 private:
  struct Handoff {
    QPointer<QTcpSocket> socket;
    bool control = false;
  };

  void accept();
  void read(QTcpSocket* socket);
  void respond(QTcpSocket* socket, const struct Request& request);
  void upgrade(QTcpSocket* socket, bool control);
  void adopt();

  scpi::Instrument& instrument_;
  scpi::PeerGuard& guard_;
  WebSetup setup_;
  Sessions sessions_;
  QTcpServer server_;
  QWebSocketServer websockets_;
  WebPages pages_;
  int reading_ = 0;
  // Upgrades handed to QWebSocketServer, by the peer's address and port.
  std::map<std::pair<QString, quint16>, Handoff> handoffs_;
};

}  // namespace talmir880::web
