#pragma once

#include <QHostAddress>
#include <QTcpServer>
#include <map>
#include <memory>
#include <string>

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
class TcpTransport {
 public:
  // Answers a client has not read; past this it is dropped, since it would
  // otherwise hold memory for as long as it keeps asking.
  static constexpr std::size_t kMaxUnread = 1024 * 1024;

  explicit TcpTransport(Instrument& instrument);
  ~TcpTransport();
  TcpTransport(const TcpTransport&) = delete;
  TcpTransport& operator=(const TcpTransport&) = delete;

  // False, with the system's reason, when the address cannot be had.
  bool listen(const QHostAddress& address, quint16 port, std::string& why);
  quint16 port() const { return server_.serverPort(); }

 private:
  class Connection;
  // Qt's sockets close on the peer's FIN; ours must go on writing.
  class Server : public QTcpServer {
   public:
    explicit Server(TcpTransport& owner) : owner_(owner) {}

   protected:
    void incomingConnection(qintptr descriptor) override { owner_.accept(descriptor); }

   private:
    TcpTransport& owner_;
  };

  void accept(qintptr descriptor);
  // From the event loop: the connection may be inside one of its callbacks.
  void remove_later(Connection* connection);

  Instrument& instrument_;
  Server server_;
  std::map<Connection*, std::unique_ptr<Connection>> connections_;
};

}  // namespace talmir880::scpi
