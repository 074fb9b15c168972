#include "platform/sockets.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace talmir880::platform {
namespace {

using namespace std::chrono_literals;

// A non-blocking call may find nothing yet: asked again for up to a second.
template <typename Call>
auto soon(Call call) {
  auto got = call();
  for (int i = 0; i < 200 && got.outcome == Outcome::would_block; ++i) {
    std::this_thread::sleep_for(5ms);
    got = call();
  }
  return got;
}

Accepted accepted_soon(Socket listener) {
  Accepted got = accept_next(listener);
  for (int i = 0; i < 200 && got.socket == kNoSocket; ++i) {
    std::this_thread::sleep_for(5ms);
    got = accept_next(listener);
  }
  return got;
}

TEST(Sockets, NumericHostsOnly) {
  for (const char* host : {"127.0.0.1", "::1", "0.0.0.0", "localhost", "192.168.1.20"}) {
    EXPECT_TRUE(is_numeric_host(host)) << host;
  }
  for (const char* host : {"", "example.org", "127.0.0.256", "::1%lo0x", "1.2.3"}) {
    EXPECT_FALSE(is_numeric_host(host)) << host;
  }
  const Listener named = listen_tcp("example.org", 0);
  EXPECT_EQ(named.socket, kNoSocket);
  EXPECT_EQ(named.error, "example.org is not an IP address");
}

// A connection both ways on loopback: bytes, an empty read, the peer's
// orderly end, and the peer as the allow list reads it.
TEST(Sockets, ALoopbackConnectionCarriesBytesAndItsEnd) {
  const Listener listener = listen_tcp("127.0.0.1", 0);
  ASSERT_NE(listener.socket, kNoSocket) << listener.error;
  ASSERT_GT(listener.port, 0);
  EXPECT_EQ(accept_next(listener.socket).socket, kNoSocket) << "nobody waits yet";

  const Connected client = connect_tcp("127.0.0.1", listener.port, 2000ms);
  ASSERT_NE(client.socket, kNoSocket) << client.error;
  const Accepted server = accepted_soon(listener.socket);
  ASSERT_NE(server.socket, kNoSocket);
  const std::array<std::uint8_t, 16> mapped_loopback{0, 0, 0,    0,    0,   0, 0, 0,
                                                     0, 0, 0xff, 0xff, 127, 0, 0, 1};
  EXPECT_EQ(server.peer.address, mapped_loopback);
  EXPECT_GT(server.peer.port, 0);
  send_without_delay(server.socket);

  char buffer[64];
  EXPECT_EQ(receive(server.socket, buffer, sizeof buffer).outcome, Outcome::would_block);
  const std::string line = "*IDN?\n";
  const Transfer sent = send_some(client.socket, line.data(), line.size());
  EXPECT_EQ(sent.outcome, Outcome::done);
  EXPECT_EQ(sent.bytes, line.size());
  const Transfer got = soon([&] { return receive(server.socket, buffer, sizeof buffer); });
  ASSERT_EQ(got.outcome, Outcome::done);
  EXPECT_EQ(std::string(buffer, got.bytes), line);
  EXPECT_LE(unsent(server.socket), 0u + line.size());

  close_socket(client.socket);
  EXPECT_EQ(soon([&] { return receive(server.socket, buffer, sizeof buffer); }).outcome,
            Outcome::ended);
  close_socket(server.socket);
  close_socket(listener.socket);
}

TEST(Sockets, ARefusedConnectionIsNoUnresolvedName) {
  const Listener listener = listen_tcp("127.0.0.1", 0);
  ASSERT_NE(listener.socket, kNoSocket);
  const int port = listener.port;
  close_socket(listener.socket);  // nobody listens there now
  const Connected refused = connect_tcp("127.0.0.1", port, 2000ms);
  EXPECT_EQ(refused.socket, kNoSocket);
  EXPECT_FALSE(refused.unresolved);
  EXPECT_FALSE(refused.error.empty());

  const Connected unknown = connect_tcp("no-such-host.invalid", 4001, 200ms);
  EXPECT_EQ(unknown.socket, kNoSocket);
  EXPECT_TRUE(unknown.unresolved);
  EXPECT_FALSE(resolve_error("no-such-host.invalid").empty());
  EXPECT_EQ(resolve_error("127.0.0.1"), "");
}

TEST(Sockets, APortInUseIsRefusedWithTheSystemsReason) {
  const Listener first = listen_tcp("127.0.0.1", 0);
  ASSERT_NE(first.socket, kNoSocket);
  const Listener second = listen_tcp("127.0.0.1", first.port);
  EXPECT_EQ(second.socket, kNoSocket);
  EXPECT_FALSE(second.error.empty());
  close_socket(first.socket);
}

}  // namespace
}  // namespace talmir880::platform
