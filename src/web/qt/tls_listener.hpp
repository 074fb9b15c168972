#pragma once

#include <QSslConfiguration>
#include <QTcpServer>
#include <functional>
#include <string>

#include "tls/credentials.hpp"

namespace talmir880::web {

// A listener whose connections speak TLS 1.2 or 1.3 with the credentials
// given. Each is a QSslSocket handed out at once, its handshake still to
// come, so that it takes a place among the connections reading a request
// and the same deadline bounds its handshake: Qt 6.4's QSslServer hands a
// connection out only once its handshake is done, and sets that no time
// limit. A handshake that fails closes its connection alone, said once.
class TlsListener : public QTcpServer {
 public:
  TlsListener(const tls::Credentials& credentials, std::function<void(const std::string&)> log);

  // Whether this Qt can serve TLS at all (its OpenSSL backend is there).
  static bool available();

 protected:
  void incomingConnection(qintptr descriptor) override;

 private:
  QSslConfiguration configuration_;
  std::function<void(const std::string&)> log_;
};

}  // namespace talmir880::web
