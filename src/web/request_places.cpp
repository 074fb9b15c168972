#include "web/request_places.hpp"

#include <algorithm>

namespace talmir880::web {

std::size_t RequestPlaces::held_by(const net::Address& peer) const {
  return static_cast<std::size_t>(std::count_if(
      places_.begin(), places_.end(), [&peer](const Place& p) { return p.peer == peer; }));
}

std::optional<RequestPlaces::Id> RequestPlaces::giving_way(const net::Address& peer) const {
  std::optional<net::Address> gives_up;
  if (held_by(peer) >= per_peer_) {
    gives_up = peer;
  } else if (places_.size() >= total_) {
    // The peer that holds the most; of equals, the one whose oldest is oldest.
    std::size_t most = 0;
    for (const Place& place : places_) {
      const std::size_t held = held_by(place.peer);
      if (held > most) {
        most = held;
        gives_up = place.peer;
      }
    }
  }
  if (!gives_up) return std::nullopt;
  auto oldest = std::find_if(places_.begin(), places_.end(),
                             [&](const Place& p) { return p.peer == *gives_up && p.started; });
  if (oldest == places_.end()) {
    oldest = std::find_if(places_.begin(), places_.end(),
                          [&](const Place& p) { return p.peer == *gives_up; });
  }
  return oldest == places_.end() ? std::nullopt : std::optional<Id>(oldest->id);
}

void RequestPlaces::started(Id id) {
  for (Place& place : places_) place.started = place.started || place.id == id;
}

std::optional<RequestPlaces::Id> RequestPlaces::take(Id id, const net::Address& peer) {
  const std::optional<Id> closed = giving_way(peer);
  if (closed) give_back(*closed);
  places_.push_back({id, peer, false});
  return closed;
}

void RequestPlaces::give_back(Id id) {
  std::erase_if(places_, [id](const Place& p) { return p.id == id; });
}

}  // namespace talmir880::web
