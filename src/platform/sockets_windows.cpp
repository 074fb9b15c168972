// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>
// clang-format on

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/sockets.hpp"

namespace talmir880::platform {
namespace {

// Winsock works only once a process has asked for it: on first use, once.
bool winsock_started() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

SOCKET handle(Socket socket) { return static_cast<SOCKET>(socket); }

std::string numeric(const std::string& host) { return host == "localhost" ? "127.0.0.1" : host; }

addrinfo* resolve_numeric(const std::string& host, int port) {
  if (!winsock_started()) return nullptr;
  // The resolver also reads the old short forms ("1.2.3" for 1.2.0.3); an
  // IPv4 address here is four numbers, as the allow list reads it.
  in_addr v4{};
  if (numeric(host).find(':') == std::string::npos &&
      ::inet_pton(AF_INET, numeric(host).c_str(), &v4) != 1) {
    return nullptr;
  }
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(numeric(host).c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
    return nullptr;
  }
  return found;
}

Endpoint endpoint_of(const sockaddr_storage& from) {
  Endpoint out;
  if (from.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(from);
    out.address[10] = out.address[11] = 0xff;
    std::memcpy(out.address.data() + 12, &v4.sin_addr, 4);
    out.port = ntohs(v4.sin_port);
  } else if (from.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(from);
    std::memcpy(out.address.data(), v6.sin6_addr.s6_addr, 16);
    out.port = ntohs(v6.sin6_port);
  }
  return out;
}

// Not inherited by a program we start, and never blocking the event loop.
SOCKET new_socket(int family) {
  const SOCKET s = ::WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  u_long on = 1;
  if (s != INVALID_SOCKET && ::ioctlsocket(s, FIONBIO, &on) != 0) {
    ::closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

std::string error_text(int code) {
  char* text = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string out = length > 0 && text != nullptr ? std::string(text, length)
                                                  : "Windows socket error " + std::to_string(code);
  if (text != nullptr) ::LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.')) {
    out.pop_back();
  }
  return out;
}

// A silent link (a cable out, Wi-Fi gone) sends no FIN: keep-alive probes
// after 5 s idle, a second apart, and a retransmission given up after 5 s,
// instead of the system's two hours and more.
constexpr u_long kKeepIdleMs = 5000;
constexpr u_long kKeepIntervalMs = 1000;
constexpr int kTcpMaxRt = 5;  // TCP_MAXRT, in seconds (Windows Vista on)

void keep_for_a_device(SOCKET s) {
  const BOOL on = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  tcp_keepalive keep{1, kKeepIdleMs, kKeepIntervalMs};
  DWORD returned = 0;
  ::WSAIoctl(s, SIO_KEEPALIVE_VALS, &keep, sizeof keep, nullptr, 0, &returned, nullptr, nullptr);
  const DWORD max_rt = kTcpMaxRt;
  ::setsockopt(s, IPPROTO_TCP, kTcpMaxRt, reinterpret_cast<const char*>(&max_rt), sizeof max_rt);
}

SOCKET connect_one(const addrinfo& address, std::chrono::milliseconds wait, std::string& why) {
  const SOCKET s = new_socket(address.ai_family);
  if (s == INVALID_SOCKET) {
    why = error_text(::WSAGetLastError());
    return INVALID_SOCKET;
  }
  keep_for_a_device(s);
  int error = 0;
  if (::connect(s, address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0) {
    error = ::WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
      // select, not WSAPoll: before Windows 10 2004 WSAPoll never reports a
      // refused connection.
      fd_set writable;
      fd_set failed;
      FD_ZERO(&writable);
      FD_ZERO(&failed);
      FD_SET(s, &writable);
      FD_SET(s, &failed);
      const auto us = std::chrono::duration_cast<std::chrono::microseconds>(wait).count();
      timeval limit{static_cast<long>(us / 1000000), static_cast<long>(us % 1000000)};
      const int ready = ::select(0, nullptr, &writable, &failed, &limit);
      int size = sizeof error;
      if (ready > 0) {
        error = 0;
        ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
      } else {
        error = WSAETIMEDOUT;
      }
    }
  }
  if (error == 0) return s;
  why = error == WSAETIMEDOUT ? "no connection within " + std::to_string(wait.count()) + " ms"
                              : error_text(error);
  ::closesocket(s);
  return INVALID_SOCKET;
}

Transfer failed_unless_waiting() {
  if (::WSAGetLastError() == WSAEWOULDBLOCK) return {Outcome::would_block, 0};
  return {Outcome::failed, 0};
}

}  // namespace

bool is_numeric_host(const std::string& host) {
  addrinfo* found = resolve_numeric(host, 0);
  if (found != nullptr) ::freeaddrinfo(found);
  return found != nullptr;
}

Listener listen_tcp(const std::string& host, int port) {
  addrinfo* found = resolve_numeric(host, port);
  if (found == nullptr) return {kNoSocket, 0, host + " is not an IP address"};
  const SOCKET s = new_socket(found->ai_family);
  // Windows' SO_REUSEADDR would let another program take the port from
  // under us; exclusive use is what the POSIX option means here.
  const BOOL on = TRUE;
  const bool ok = s != INVALID_SOCKET &&
                  ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                               reinterpret_cast<const char*>(&on), sizeof on) == 0 &&
                  ::bind(s, found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0 &&
                  ::listen(s, SOMAXCONN) == 0;
  ::freeaddrinfo(found);
  sockaddr_storage bound{};
  int length = sizeof bound;
  if (!ok || ::getsockname(s, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
    Listener none{kNoSocket, 0, error_text(::WSAGetLastError())};
    if (s != INVALID_SOCKET) ::closesocket(s);
    return none;
  }
  return {static_cast<Socket>(s), endpoint_of(bound).port, {}};
}

int longest_listen_queue() { return SOMAXCONN; }

Accepted accept_next(Socket listener) {
  for (;;) {
    sockaddr_storage from{};
    int length = sizeof from;
    const SOCKET s = ::accept(handle(listener), reinterpret_cast<sockaddr*>(&from), &length);
    if (s != INVALID_SOCKET) {
      u_long on = 1;
      ::ioctlsocket(s, FIONBIO, &on);
      ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
      return {static_cast<Socket>(s), endpoint_of(from)};
    }
    const int error = ::WSAGetLastError();
    if (error != WSAEINTR && error != WSAECONNABORTED && error != WSAECONNRESET) return {};
  }
}

Connected connect_tcp(const std::string& host, int port, std::chrono::milliseconds wait) {
  if (!winsock_started()) return {kNoSocket, "Windows sockets are not available", false};
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (const int error = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found)) {
    return {kNoSocket, error_text(error), true};
  }
  Connected out{kNoSocket, "no address", false};
  SOCKET s = INVALID_SOCKET;
  for (const addrinfo* a = found; a != nullptr && s == INVALID_SOCKET; a = a->ai_next) {
    s = connect_one(*a, wait, out.error);
  }
  ::freeaddrinfo(found);
  if (s != INVALID_SOCKET) out = {static_cast<Socket>(s), {}, false};
  return out;
}

std::string resolve_error(const std::string& host) {
  if (!winsock_started()) return "Windows sockets are not available";
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (const int error = ::getaddrinfo(host.c_str(), nullptr, &hints, &found)) {
    return error_text(error);
  }
  ::freeaddrinfo(found);
  return {};
}

Transfer receive(Socket socket, char* buffer, std::size_t size) {
  const int n =
      ::recv(handle(socket), buffer, static_cast<int>(std::min<std::size_t>(size, INT_MAX)), 0);
  if (n > 0) return {Outcome::done, static_cast<std::size_t>(n)};
  if (n == 0) return {Outcome::ended, 0};
  return failed_unless_waiting();
}

Transfer send_some(Socket socket, const char* data, std::size_t size) {
  const int n =
      ::send(handle(socket), data, static_cast<int>(std::min<std::size_t>(size, INT_MAX)), 0);
  if (n >= 0) return {Outcome::done, static_cast<std::size_t>(n)};
  return failed_unless_waiting();
}

void send_without_delay(Socket socket) {
  const BOOL on = TRUE;
  ::setsockopt(handle(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
               sizeof on);
}

// Winsock does not tell how much of what it took is still unsent; what it
// holds is bounded by its send buffer.
std::size_t unsent(Socket) { return 0; }

void close_socket(Socket socket) {
  if (socket != kNoSocket) ::closesocket(handle(socket));
}

std::string last_error() { return error_text(::WSAGetLastError()); }

}  // namespace talmir880::platform
