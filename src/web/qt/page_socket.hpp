#pragma once

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>
#include <functional>
#include <string>

#include "web/websocket.hpp"

namespace talmir880::web {

// A page's WebSocket on the connection that asked for it, once the upgrade
// is answered: its frames read strictly as they come (FrameReader), each
// counted by when it was read (MessageRate), pings answered, and what is
// sent to it bounded by what it has not taken, the system's buffers
// included. A page closed for a fault or a flood gets the close frame and
// a moment to read it before the connection goes.
class PageSocket {
 public:
  struct Limits {
    std::size_t max_message = 0;
    double per_second = 0;  // frames a second, on average
    double burst = 0;       // frames at once
    qint64 max_unsent = 0;  // bytes the page has not taken, ours and the system's
  };
  // How long a closed page is given to answer with its own close frame.
  static constexpr int kCloseWaitMs = 2000;

  // Takes the connection over; what it already holds is read at the next
  // turn of the loop.
  PageSocket(QTcpSocket* socket, Limits limits);
  ~PageSocket();
  PageSocket(const PageSocket&) = delete;
  PageSocket& operator=(const PageSocket&) = delete;

  // A text message of the page.
  std::function<void(const std::string& text)> on_text;
  // The connection is gone, closed by either side; once, from the loop.
  std::function<void()> on_gone;

  // Sends a text message; a page that leaves too much unread is dropped.
  void send_text(const std::string& text);
  // Sends the close frame; what the page sends after it is not delivered.
  void close(CloseCode code);
  bool closing() const { return closing_; }

  QHostAddress peer_address() const { return socket_->peerAddress(); }
  quint16 peer_port() const { return socket_->peerPort(); }

 private:
  void read();
  void received(const Received& frame);
  qint64 unsent() const;
  void drop();
  void gone();

  QTcpSocket* socket_;
  Limits limits_;
  FrameReader frames_;
  MessageRate rate_;
  QTimer close_wait_;
  bool closing_ = false;
  bool gone_ = false;
};

}  // namespace talmir880::web
