#pragma once

#include <QHostAddress>
#include <QTcpServer>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "net/peer_guard.hpp"
#include "scpi/instrument.hpp"
#include "vxi11/core_channel.hpp"
#include "vxi11/record_marking.hpp"

class QTcpSocket;

namespace talmir880::vxi11 {

// VXI-11's core channel on TCP. A connection's calls are read one record
// at a time, and only while the channel has no call of it open and its
// replies are being read, so what a connection can make the server hold is
// one record (RecordReader's bound), one call and its links' unread
// answers (CoreChannel's bound). A peer the guard does not admit is closed
// before a byte of it is read.
class Vxi11Transport {
 public:
  static constexpr int kMaxConnections = 16;

  // Device inst<i> is instruments[i].
  Vxi11Transport(std::vector<scpi::Instrument*> instruments, net::PeerGuard& guard);
  Vxi11Transport(scpi::Instrument& instrument, net::PeerGuard& guard)
      : Vxi11Transport(std::vector<scpi::Instrument*>{&instrument}, guard) {}
  ~Vxi11Transport();
  Vxi11Transport(const Vxi11Transport&) = delete;
  Vxi11Transport& operator=(const Vxi11Transport&) = delete;

  // False, with the system's reason, when the address cannot be had.
  bool listen(const QHostAddress& address, quint16 port, std::string& why);
  quint16 port() const { return server_.serverPort(); }

 private:
  class Connection;

  void accept();
  void read(ConnectionId id);
  void drop(ConnectionId id);
  // From the event loop, never from inside the channel.
  void later(ConnectionId id, void (Vxi11Transport::*step)(ConnectionId));
  void arm();

  // Destroyed after the channel, which holds their events.
  std::map<ConnectionId, std::unique_ptr<Connection>> connections_;
  net::PeerGuard& guard_;
  CoreChannel channel_;
  QTcpServer server_;
  QTimer deadline_;
};

}  // namespace talmir880::vxi11
