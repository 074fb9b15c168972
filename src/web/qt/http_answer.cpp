#include "web/qt/http_answer.hpp"

#include <QVariant>

namespace talmir880::web {
namespace {

constexpr const char* kHeadOnly = "talmir880_head_only";

}  // namespace

void set_head_only(QTcpSocket* socket, bool head_only) {
  socket->setProperty(kHeadOnly, head_only);
}

// Each answer closes its connection: one request a connection keeps the
// handler small and a visitor's hold on it short.
void answer(QTcpSocket* socket, const char* status, const std::string& type, const QByteArray& body,
            const std::string& header) {
  std::string head = std::string("HTTP/1.1 ") + status + "\r\n";
  if (!type.empty()) head += "Content-Type: " + type + "\r\n";
  head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  if (!header.empty()) head += header + "\r\n";
  head +=
      "Cache-Control: no-store\r\n"
      "X-Content-Type-Options: nosniff\r\n"
      "X-Frame-Options: DENY\r\n"
      "Referrer-Policy: no-referrer\r\n"
      "Content-Security-Policy: default-src 'self'; connect-src 'self'; frame-ancestors 'none'; "
      "base-uri 'none'; form-action 'none'\r\n"
      "Connection: close\r\n\r\n";
  socket->write(head.data(), static_cast<qint64>(head.size()));
  if (!socket->property(kHeadOnly).toBool()) socket->write(body);
  socket->disconnectFromHost();
}

void plain(QTcpSocket* socket, const char* status) {
  answer(socket, status, "text/plain; charset=utf-8", QByteArray(status) + "\n");
}

}  // namespace talmir880::web
