#include "net/peer_guard.hpp"

#include <algorithm>
#include <array>

namespace talmir880::net {
namespace {

// Header names without a hyphen that browsers and web clients send.
constexpr std::array<std::string_view, 16> kHeaderWords = {
    "host",  "origin", "accept", "connection", "referer",   "cookie", "upgrade",  "pragma",
    "range", "expect", "te",     "via",        "forwarded", "dnt",    "priority", "authorization"};

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool is_letter(char c) { return lower(c) >= 'a' && lower(c) <= 'z'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool same_word(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return lower(x) == lower(y); });
}

// HTTP/1.1, HTTP/1.0, HTTP/2 and the like.
bool is_version(std::string_view text) {
  if (text.size() < 6 || !same_word(text.substr(0, 5), "http/")) return false;
  text.remove_prefix(5);
  const std::size_t dot = text.find('.');
  const std::string_view major = text.substr(0, dot);
  const std::string_view minor = dot == std::string_view::npos ? "0" : text.substr(dot + 1);
  return !major.empty() && !minor.empty() && std::all_of(major.begin(), major.end(), is_digit) &&
         std::all_of(minor.begin(), minor.end(), is_digit);
}

bool is_request_line(std::string_view line) {
  const std::size_t first = line.find(' ');
  const std::size_t last = line.rfind(' ');
  if (first == std::string_view::npos || first == 0 || last <= first + 1) return false;
  const std::string_view method = line.substr(0, first);
  const std::string_view target = line.substr(first + 1, last - first - 1);
  return std::all_of(method.begin(), method.end(),
                     [](char c) { return is_letter(c) || c == '-'; }) &&
         target.find(' ') == std::string_view::npos && is_version(line.substr(last + 1));
}

bool is_header_line(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0 || !is_letter(line[0])) return false;
  const std::string_view name = line.substr(0, colon);
  if (!std::all_of(name.begin(), name.end(),
                   [](char c) { return is_letter(c) || is_digit(c) || c == '-'; })) {
    return false;
  }
  if (colon + 1 < line.size() && line[colon + 1] != ' ' && line[colon + 1] != '\t') return false;
  return name.find('-') != std::string_view::npos ||
         std::any_of(kHeaderWords.begin(), kHeaderWords.end(),
                     [name](std::string_view word) { return same_word(name, word); });
}

}  // namespace

WebLine web_line(std::string_view line) {
  if (is_request_line(line)) return WebLine::request_line;
  if (is_header_line(line)) return WebLine::header_line;
  return WebLine::none;
}

bool PeerGuard::admit(const Address& peer, Clock::time_point now) {
  if (allow_.allows(peer)) return true;
  tell(peer, now, "refused a connection from " + address_text(peer) + ": not in --allow");
  return false;
}

void PeerGuard::closed_web_request(const Address& peer, Clock::time_point now) {
  tell(peer, now,
       "closed a connection from " + address_text(peer) +
           ": it sent HTTP, and no line of a web request runs");
}

void PeerGuard::tell(const Address& peer, Clock::time_point now, const std::string& line) {
  const auto found = told_.find(peer.bytes);
  if (found != told_.end()) {
    if (now - found->second < kQuiet) return;
    found->second = now;
  } else {
    if (told_.size() >= kMaxRemembered) {
      std::erase_if(told_, [now](const auto& entry) { return now - entry.second >= kQuiet; });
      if (told_.size() >= kMaxRemembered) return;
    }
    told_.emplace(peer.bytes, now);
  }
  if (log_) log_(line);
}

}  // namespace talmir880::net
