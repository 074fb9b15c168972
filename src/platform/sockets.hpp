#pragma once

// The system's TCP sockets, as the raw SCPI face and the link to a generator
// behind ser2net use them: non-blocking, watched by the event loop's
// notifiers, never raising a signal when a peer has gone. POSIX sockets in
// sockets_posix.cpp, Winsock in sockets_windows.cpp.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace talmir880::platform {

// What the event loop's notifiers watch: a descriptor on POSIX, a SOCKET on
// Windows.
using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;

// An IPv4 address is held IPv4-mapped, as the allow list holds it.
struct Endpoint {
  std::array<std::uint8_t, 16> address{};
  int port = 0;
};

// How a call on a non-blocking socket ended: `ended` is the peer's orderly
// end of sending (a receive only), `failed` a broken connection, whose
// reason last_error() tells.
enum class Outcome { done, would_block, ended, failed };
struct Transfer {
  Outcome outcome = Outcome::done;
  std::size_t bytes = 0;
};

// Whether HOST is a numeric address ("localhost" counts as 127.0.0.1).
bool is_numeric_host(const std::string& host);

// Listening on a numeric HOST and PORT (0: any free port), non-blocking.
struct Listener {
  Socket socket = kNoSocket;
  int port = 0;  // the one bound
  std::string error;
};
Listener listen_tcp(const std::string& host, int port);
// The longest queue of connections the system keeps waiting to be accepted:
// a burst of clients waits there, not refused.
int longest_listen_queue();

// The next connection waiting on a listener, non-blocking too; kNoSocket
// when none waits.
struct Accepted {
  Socket socket = kNoSocket;
  Endpoint peer;
};
Accepted accept_next(Socket listener);

// A connection to HOST (a name or an address) and PORT, made within `wait`
// and kept for a device link: no batching, and a peer that falls silent
// given up within seconds rather than the system's quarter of an hour.
// `unresolved` tells a name that does not resolve from a connection that
// failed.
struct Connected {
  Socket socket = kNoSocket;
  std::string error;
  bool unresolved = false;
};
Connected connect_tcp(const std::string& host, int port, std::chrono::milliseconds wait);
// Empty when HOST is an address or a name that resolves now; otherwise the
// resolver's reason.
std::string resolve_error(const std::string& host);

Transfer receive(Socket socket, char* buffer, std::size_t size);
Transfer send_some(Socket socket, const char* data, std::size_t size);
// Each write leaves at once: a short answer or command waits for no more.
void send_without_delay(Socket socket);
// Bytes the system took from us and has not sent yet; 0 where it cannot tell.
std::size_t unsent(Socket socket);
void close_socket(Socket socket);
// The system's words for the last failed call of this thread.
std::string last_error();

}  // namespace talmir880::platform
