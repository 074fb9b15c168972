#include "scpi/line_feeder.hpp"

#include <utility>

#include "net/peer_guard.hpp"

namespace talmir880::scpi {

std::size_t LineFeeder::feed_one(ClientId client, std::string_view bytes) {
  return lines_.feed_one(
      bytes,
      [this, client](std::string line) {
        if (guard_ == Guard::web && (web_ || net::web_line(line) != net::WebLine::none)) {
          web_ = true;
          return;
        }
        instrument_.submit(client, std::move(line));
      },
      [this, client] { instrument_.overrun(client); });
}

std::size_t LineFeeder::feed(ClientId client, std::string_view bytes) {
  std::size_t taken = 0;
  while (taken < bytes.size() && !web_) {
    const std::string_view rest = bytes.substr(taken);
    if (rest.find('\n') != std::string_view::npos && full(client)) break;
    taken += feed_one(client, rest);
  }
  return taken;
}

bool LineFeeder::end(ClientId client) {
  if (web_ || lines_.partial().empty()) return true;
  if (full(client)) return false;
  feed_one(client, "\n");
  return true;
}

}  // namespace talmir880::scpi
