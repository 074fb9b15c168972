#include "web/qt/tls_listener.hpp"

#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>

#include "net/allow_list.hpp"
#include "web/qt/host_network.hpp"

namespace talmir880::web {

TlsListener::TlsListener(const tls::Credentials& credentials,
                         std::function<void(const std::string&)> log)
    : log_(std::move(log)) {
  // No CA certificates: the server asks for none of its clients, and the
  // system's would cost their memory for nothing.
  configuration_.setProtocol(QSsl::TlsV1_2OrLater);
  configuration_.setPeerVerifyMode(QSslSocket::VerifyNone);
  configuration_.setLocalCertificateChain(
      QSslCertificate::fromData(QByteArray::fromStdString(credentials.chain_pem), QSsl::Pem));
  configuration_.setPrivateKey(QSslKey(QByteArray::fromStdString(credentials.key_pem),
                                       credentials.rsa ? QSsl::Rsa : QSsl::Ec, QSsl::Pem,
                                       QSsl::PrivateKey));
}

bool TlsListener::available() { return QSslSocket::supportsSsl(); }

void TlsListener::incomingConnection(qintptr descriptor) {
  auto* socket = new QSslSocket(this);
  if (!socket->setSocketDescriptor(descriptor)) {
    delete socket;
    return;
  }
  socket->setSslConfiguration(configuration_);
  QObject::connect(socket, &QSslSocket::errorOccurred, socket,
                   [this, socket](QAbstractSocket::SocketError error) {
                     // A look at what has come (waitForReadyRead(0)) times
                     // out while the handshake goes on: no failure.
                     if (socket->isEncrypted() || error == QAbstractSocket::SocketTimeoutError) {
                       return;
                     }
                     if (log_) {
                       log_("web page: TLS with " +
                            net::address_text(net::address_text(address_of(socket->peerAddress())),
                                              socket->peerPort()) +
                            " failed: " + socket->errorString().toStdString());
                     }
                     socket->abort();
                   });
  socket->startServerEncryption();
  addPendingConnection(socket);
}

}  // namespace talmir880::web
