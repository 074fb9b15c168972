#include "web/qt/page_socket.hpp"

#include <QMetaObject>
#include <chrono>
#include <vector>

#include "platform/sockets.hpp"

namespace talmir880::web {
namespace {

// What a page may have on its way at once: a few of its frames.
constexpr qint64 kReadBuffer = 16 * 1024;

}  // namespace

PageSocket::PageSocket(QTcpSocket* socket, Limits limits)
    : socket_(socket),
      limits_(limits),
      frames_(limits.max_message),
      rate_(limits.per_second, limits.burst) {
  socket_->setReadBufferSize(kReadBuffer);
  close_wait_.setSingleShot(true);
  QObject::connect(&close_wait_, &QTimer::timeout, socket_, [this] { drop(); });
  QObject::connect(socket_, &QTcpSocket::readyRead, socket_, [this] { read(); });
  QObject::connect(socket_, &QTcpSocket::disconnected, socket_, [this] { gone(); });
  QMetaObject::invokeMethod(
      socket_,
      [this] {
        if (socket_->state() != QAbstractSocket::ConnectedState) {
          gone();
        } else if (socket_->bytesAvailable() > 0) {
          read();
        }
      },
      Qt::QueuedConnection);
}

PageSocket::~PageSocket() {
  close_wait_.stop();
  QObject::disconnect(socket_, nullptr, socket_, nullptr);
  socket_->abort();
  socket_->deleteLater();
}

void PageSocket::read() {
  // Every frame of one read came at once, as far as the server can tell:
  // after a stall of its own, all that the page sent meanwhile.
  const auto now = MessageRate::Clock::now();
  const QByteArray bytes = socket_->readAll();
  if (frames_.failed()) return;  // closing: what follows is not read
  std::vector<Received> frames;
  frames_.feed(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), frames);
  for (const Received& frame : frames) {
    if (gone_) return;
    if (frame.kind != Received::Kind::fault && frame.kind != Received::Kind::close && !closing_ &&
        !rate_.admit(now)) {
      close(CloseCode::policy_violation);
      continue;
    }
    received(frame);
  }
}

void PageSocket::received(const Received& frame) {
  switch (frame.kind) {
    case Received::Kind::text:
      if (!closing_ && on_text) on_text(frame.data);
      return;
    case Received::Kind::ping:
      if (!closing_) socket_->write(QByteArray::fromStdString(pong_frame(frame.data)));
      return;
    case Received::Kind::pong:
      return;
    case Received::Kind::close:
      // Its answer to ours, or its own close, answered with its code; the
      // server then ends the connection, as the server should.
      if (!closing_) {
        closing_ = true;
        socket_->write(QByteArray::fromStdString(close_frame(
            frame.code == 1005 ? static_cast<std::uint16_t>(CloseCode::normal) : frame.code)));
      }
      close_wait_.stop();
      socket_->disconnectFromHost();
      return;
    case Received::Kind::fault:
      close(static_cast<CloseCode>(frame.code));
      return;
  }
}

void PageSocket::send_text(const std::string& text) {
  if (closing_ || gone_) return;
  if (unsent() > limits_.max_unsent) {
    // It does not read: no close frame would reach it either.
    drop();
    return;
  }
  socket_->write(QByteArray::fromStdString(text_frame(text)));
}

void PageSocket::close(CloseCode code) {
  if (closing_ || gone_) return;
  closing_ = true;
  socket_->write(QByteArray::fromStdString(close_frame(static_cast<std::uint16_t>(code))));
  close_wait_.start(kCloseWaitMs);
}

qint64 PageSocket::unsent() const {
  return socket_->bytesToWrite() +
         static_cast<qint64>(platform::unsent(socket_->socketDescriptor()));
}

void PageSocket::drop() {
  socket_->abort();
  gone();
}

void PageSocket::gone() {
  if (gone_) return;
  gone_ = true;
  closing_ = true;
  close_wait_.stop();
  // Never from inside the socket's own signal: the owner may delete us.
  QMetaObject::invokeMethod(
      &close_wait_,
      [this] {
        if (on_gone) on_gone();
      },
      Qt::QueuedConnection);
}

}  // namespace talmir880::web
