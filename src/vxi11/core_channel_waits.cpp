// Calls parked until an answer, room or a released lock lets them go on,
// or their time runs out.
#include "vxi11/core_channel.hpp"

#include <vector>

#include "device/deferred.hpp"
#include "vxi11/rpc.hpp"

namespace talmir880::vxi11 {

void CoreChannel::finish(ConnectionId id, std::string results) {
  Connection& connection = connections_.at(id);
  const std::uint32_t xid = connection.open->xid;
  connection.open.reset();
  connection.events->reply(success_reply(xid, results));
}

void CoreChannel::tick(Clock::time_point now) {
  expire(now);
  if (dirty_) retry();
}

void CoreChannel::expire(Clock::time_point now) {
  for (auto& [id, connection] : connections_) {
    if (!connection.open) continue;
    const Open& open = *connection.open;
    if (open.blocked == Blocked::lock && now >= open.lock_deadline) {
      finish(id, failure(open, kDeviceLockedByAnotherLink));
    } else if (open.blocked == Blocked::io && now >= open.io_deadline) {
      finish(id, failure(open, kIoTimeout));
    }
  }
}

std::optional<Clock::time_point> CoreChannel::next_deadline() const {
  std::optional<Clock::time_point> next;
  for (const auto& [id, connection] : connections_) {
    if (!connection.open || connection.open->blocked == Blocked::no) continue;
    const Clock::time_point at = connection.open->blocked == Blocked::lock
                                     ? connection.open->lock_deadline
                                     : connection.open->io_deadline;
    if (!next || at < *next) next = at;
  }
  return next;
}

void CoreChannel::settle() {
  dirty_ = true;
  retry();
}

void CoreChannel::retry() {
  while (dirty_) {
    dirty_ = false;
    std::vector<ConnectionId> waiting;
    for (const auto& [id, connection] : connections_) {
      if (connection.open) waiting.push_back(id);
    }
    for (const ConnectionId id : waiting) {
      const auto found = connections_.find(id);
      if (found == connections_.end() || !found->second.open) continue;
      if (std::optional<std::string> results = attempt(id, *found->second.open)) {
        finish(id, std::move(*results));
      }
    }
  }
}

}  // namespace talmir880::vxi11
