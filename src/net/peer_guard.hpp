#pragma once

// What the network faces refuse before a byte of a client acts: peers
// outside --allow, and web requests. A browser lets any page it shows POST
// a text/plain form to 127.0.0.1:5025; its request line and headers would
// then arrive as lines like any script's, and the body's as commands. So
// a line that is HTTP closes its connection before it runs, the way
// key-value stores guard their plain-text protocols against the same page.

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "net/allow_list.hpp"

namespace talmir880::net {

enum class WebLine { none, request_line, header_line };

// A request line is `METHOD TARGET HTTP/x.y`; a header line is a header
// name at the start of the line, a colon and a space, tab or the end (SCPI
// never puts a space right after a colon). Names: the usual single words
// (Host, Origin, Accept, ...) and any with a hyphen (User-Agent,
// Content-Type, Sec-Fetch-Mode, ...), which no SCPI mnemonic has. Both
// case-insensitive.
WebLine web_line(std::string_view line);

class PeerGuard {
 public:
  using Clock = std::chrono::steady_clock;
  using Log = std::function<void(const std::string&)>;
  // One line per peer at most this often, so a page that retries cannot
  // flood the journal.
  static constexpr Clock::duration kQuiet = std::chrono::minutes(1);
  // Peers remembered for that; past it, new peers are not logged until the
  // oldest are a minute old.
  static constexpr std::size_t kMaxRemembered = 1024;

  PeerGuard() = default;  // everyone may connect; nothing is logged
  PeerGuard(AllowList allow, Log log) : allow_(std::move(allow)), log_(std::move(log)) {}

  // Whether --allow narrows who may connect.
  bool limits() const { return !allow_.empty(); }
  // Whether the peer may connect; a refusal is logged.
  bool admit(const Address& peer, Clock::time_point now);
  // A connection closed for a web line.
  void closed_web_request(const Address& peer, Clock::time_point now);

 private:
  void tell(const Address& peer, Clock::time_point now, const std::string& line);

  AllowList allow_;
  Log log_;
  std::map<std::array<std::uint8_t, 16>, Clock::time_point> told_;
};

}  // namespace talmir880::net
