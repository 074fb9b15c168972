#pragma once

// The places of connections that are reading their request's head. A
// visitor that opens connections and sends part of a request, or nothing,
// would otherwise hold every place until its deadline, and no page would
// load. So one peer holds at most `per_peer` places, and a new connection
// never waits: a place of its own peer, or of the peer that holds the
// most, is given up for it, the oldest of those that began a request and
// did not finish it, else the oldest. A browser's request arrives whole at
// once and leaves its place within a turn of the loop.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

#include "net/allow_list.hpp"

namespace talmir880::web {

class RequestPlaces {
 public:
  using Id = std::uint64_t;

  RequestPlaces(std::size_t total, std::size_t per_peer) : total_(total), per_peer_(per_peer) {}

  // The place that would be given up for a new connection from `peer`, if
  // any: the owner may first read what it holds.
  std::optional<Id> giving_way(const net::Address& peer) const;
  // A new connection from `peer` takes a place; the one that must close to
  // make room for it, if any (giving_way's).
  std::optional<Id> take(Id id, const net::Address& peer);
  void give_back(Id id);
  // Part of its request has come, and not all of it.
  void started(Id id);
  std::size_t held() const { return places_.size(); }
  std::size_t held_by(const net::Address& peer) const;

 private:
  struct Place {
    Id id;
    net::Address peer;
    bool started = false;
  };

  std::size_t total_;
  std::size_t per_peer_;
  std::deque<Place> places_;  // oldest first
};

}  // namespace talmir880::web
