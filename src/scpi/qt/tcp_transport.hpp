#pragma once

#include <QHostAddress>
#include <QTcpServer>
#include <map>
#include <memory>
#include <string>

#include "scpi/instrument.hpp"
#include "scpi/line_splitter.hpp"

class QTcpSocket;

namespace talmir880::scpi {

// The instrument on a raw TCP socket, as lab generators serve SCPI: a line
// in, a line out. Each connection is a client of its own; what one client
// does (dribbling, never reading, leaving mid-query) costs the others
// nothing, and what it can make the server hold is capped.
class TcpTransport {
 public:
  static constexpr int kMaxClients = 16;
  // Answers a client has not read; beyond this it is dropped, since it
  // would otherwise hold memory for as long as it keeps asking.
  static constexpr qint64 kMaxUnread = 1024 * 1024;

  explicit TcpTransport(Instrument& instrument);
  ~TcpTransport();
  TcpTransport(const TcpTransport&) = delete;
  TcpTransport& operator=(const TcpTransport&) = delete;

  // False, with the system's reason, when the address cannot be had.
  bool listen(const QHostAddress& address, quint16 port, std::string& why);
  quint16 port() const { return server_.serverPort(); }
  int clients() const { return static_cast<int>(clients_.size()); }

 private:
  struct Client {
    QTcpSocket* socket;
    LineSplitter lines;
  };

  void accept();
  void read(ClientId id);
  void answer(ClientId id, const std::string& text);
  void drop(ClientId id);

  Instrument& instrument_;
  QTcpServer server_;
  std::map<ClientId, Client> clients_;
  ClientId next_id_ = 1;
};

}  // namespace talmir880::scpi
