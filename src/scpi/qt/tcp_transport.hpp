#pragma once

#include <QSocketNotifier>
#include <map>
#include <memory>
#include <string>

#include "net/peer_guard.hpp"
#include "platform/sockets.hpp"
#include "scpi/instrument.hpp"

namespace talmir880::scpi {

// The instrument on a raw TCP socket, as lab generators serve SCPI: lines
// in, lines out. Each connection is a client of its own.
//
// Every complete line a client sent runs. After the client's orderly end of
// sending (FIN) its answers still go out until its last line has run, a
// last line without LF counting as a line, and then the connection closes;
// after a reset the partial line is dropped and the answers with it.
//
// What one client does (dribbling, never reading, leaving mid-query) costs
// the others nothing, and what it can make the server hold is capped: its
// partial line (LineSplitter), its lines waiting (the instrument's backlog;
// past it the socket is not read, so TCP holds the sender back) and its
// unread answers.
//
// A peer the guard does not admit is closed before a byte is read, and a
// connection whose line is HTTP (web_line) is closed at once: that line and
// everything after it are dropped, the lines before it have been submitted
// and run.
//
// Plain sockets on Qt Core's notifiers: Qt's own close on the peer's FIN,
// and a panel that serves nothing should not load Qt Network at start.
class TcpTransport {
 public:
  // Answers a client has not read; past this it is dropped, since it would
  // otherwise hold memory for as long as it keeps asking.
  static constexpr std::size_t kMaxUnread = 1024 * 1024;

  // Everyone admitted, nothing logged; web lines are refused all the same.
  explicit TcpTransport(Instrument& instrument);
  TcpTransport(Instrument& instrument, net::PeerGuard& guard);
  ~TcpTransport();
  TcpTransport(const TcpTransport&) = delete;
  TcpTransport& operator=(const TcpTransport&) = delete;

  // Whether a host is a numeric IPv4 or IPv6 address, or localhost.
  static bool is_address(const std::string& host);
  // Listens on host:port (port 0: any free one); false, with the system's
  // reason, when the address cannot be had.
  bool listen(const std::string& host, int port, std::string& why);
  int port() const { return port_; }

 private:
  class Connection;

  void accept_all();
  void accept(platform::Socket socket, const net::Address& peer, int port);
  // From the event loop: the connection may be inside one of its callbacks.
  void remove_later(Connection* connection);

  Instrument& instrument_;
  net::PeerGuard own_guard_;
  net::PeerGuard& guard_;
  platform::Socket listener_ = platform::kNoSocket;
  int port_ = 0;
  std::unique_ptr<QSocketNotifier> accepting_;
  std::map<Connection*, std::unique_ptr<Connection>> connections_;
};

}  // namespace talmir880::scpi
