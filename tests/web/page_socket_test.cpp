// A page's WebSocket on loopback: one that never reads is dropped once what
// it left unread passes the bound, the system's buffers counted too, while
// one that reads beside it is sent everything.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QEventLoop>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <memory>
#include <string>

#include "web/qt/page_socket.hpp"

namespace talmir880::web {
namespace {

// A connected client socket on the server's port that never reads, with a
// small receive buffer, so the server's side must hold what it sends.
int never_reading_client(quint16 port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  const int small = 4096;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

TEST(PageSocket, APageThatNeverReadsIsDroppedOneThatReadsIsNot) {
  QTcpServer server;
  ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
  const PageSocket::Limits limits{64, 20, 60, 64 * 1024};

  const int silent = never_reading_client(server.serverPort());
  ASSERT_GE(silent, 0);
  ASSERT_TRUE(server.waitForNewConnection(3000));
  PageSocket dropped(server.nextPendingConnection(), limits);
  bool dropped_gone = false;
  dropped.on_gone = [&] { dropped_gone = true; };

  QTcpSocket reader;
  qint64 read = 0;
  QObject::connect(&reader, &QTcpSocket::readyRead, &reader,
                   [&] { read += reader.readAll().size(); });
  reader.connectToHost(QHostAddress::LocalHost, server.serverPort());
  ASSERT_TRUE(server.waitForNewConnection(3000));
  PageSocket kept(server.nextPendingConnection(), limits);
  bool kept_gone = false;
  kept.on_gone = [&] { kept_gone = true; };

  // 1 KiB a message, one every millisecond, 256 of them.
  const std::string message(1024, 'm');
  const qint64 frame_size = static_cast<qint64>(text_frame(message).size());
  int sent = 0;
  QEventLoop loop;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
    if (sent == 256) {
      if (read == sent * frame_size) loop.quit();
      return;
    }
    dropped.send_text(message);
    kept.send_text(message);
    ++sent;
  });
  QTimer::singleShot(10000, &loop, &QEventLoop::quit);
  tick.start(1);
  loop.exec();
  ::close(silent);

  EXPECT_TRUE(dropped_gone) << "the page that never read is dropped";
  EXPECT_FALSE(kept_gone);
  EXPECT_EQ(read, 256 * frame_size) << "the page that reads got every message";
}

}  // namespace
}  // namespace talmir880::web
