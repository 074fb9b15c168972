#pragma once

#include <QHostAddress>
#include <QTcpServer>
#include <map>
#include <string>

#include "scpi/instrument.hpp"
#include "scpi/line_splitter.hpp"

class QTcpSocket;

namespace talmir880::scpi {

// The instrument on a raw TCP socket, as lab generators serve SCPI: lines
// in, lines out. Each connection is a client of its own. What one client
// does (dribbling, never reading, leaving mid-query) costs the others
// nothing, and what it can make the server hold is capped: its partial line
// (LineSplitter), its lines waiting (the instrument's backlog; past it the
// socket is not read, so TCP holds the sender back) and its unread answers.
class TcpTransport {
 public:
  static constexpr int kMaxClients = 16;
  // Answers a client has not read; past this it is dropped, since it would
  // otherwise hold memory for as long as it keeps asking.
  static constexpr qint64 kMaxUnread = 1024 * 1024;

  explicit TcpTransport(Instrument& instrument);
  ~TcpTransport();
  TcpTransport(const TcpTransport&) = delete;
  TcpTransport& operator=(const TcpTransport&) = delete;

  // False, with the system's reason, when the address cannot be had.
  bool listen(const QHostAddress& address, quint16 port, std::string& why);
  quint16 port() const { return server_.serverPort(); }

 private:
  struct Client {
    QTcpSocket* socket;
    LineSplitter lines;
    bool reading = false;
    bool held = false;  // stopped reading at the instrument's backlog
  };

  void accept();
  void read(ClientId id);
  void answer(ClientId id, const std::string& text);
  void drop(ClientId id);
  // From the event loop, never from inside the instrument.
  void later(ClientId id, void (TcpTransport::*step)(ClientId));

  Instrument& instrument_;
  QTcpServer server_;
  std::map<ClientId, Client> clients_;
  ClientId next_id_ = 1;
};

}  // namespace talmir880::scpi
