// The connections, and each call handed to the procedure it names.
#include "vxi11/core_channel.hpp"

#include <vector>

#include "device/deferred.hpp"
#include "vxi11/rpc.hpp"

namespace talmir880::vxi11 {
namespace {

std::int32_t lid_of(const auto& parms) {
  if constexpr (requires { parms.lid; }) {
    return parms.lid;
  } else {
    return 0;
  }
}

}  // namespace

CoreChannel::CoreChannel(std::vector<scpi::Instrument*> instruments)
    : instruments_(std::move(instruments)), lock_holders_(instruments_.size()) {}

CoreChannel::~CoreChannel() {
  // What the instrument says to links detached here is never delivered.
  for (auto& [lid, link] : links_) link.instrument->detach(link.client);
}

ConnectionId CoreChannel::open(ConnectionEvents& events, std::string who) {
  const ConnectionId id = next_connection_++;
  connections_[id].events = &events;
  connections_[id].who = std::move(who);
  return id;
}

bool CoreChannel::busy(ConnectionId connection) const {
  const auto found = connections_.find(connection);
  return found != connections_.end() && found->second.open.has_value();
}

void CoreChannel::call(ConnectionId id, std::string_view message, Clock::time_point now) {
  const auto found = connections_.find(id);
  if (found == connections_.end() || found->second.open) return;
  Connection& connection = found->second;
  std::string refusal;
  std::optional<Open> open = opened(message, now, refusal);
  if (!open) {
    if (!refusal.empty()) connection.events->reply(refusal);
    return;
  }
  if (std::optional<std::string> results = attempt(id, *open)) {
    connection.events->reply(success_reply(open->xid, *results));
  } else {
    connection.open = std::move(open);
  }
  if (dirty_) retry();
  expire(now);
}

std::optional<std::string> CoreChannel::attempt(ConnectionId id, Open& open) {
  open.blocked = Blocked::no;
  if (open.proc == kCreateLink) return create_link(id, open, std::get<CreateLinkParms>(open.parms));
  const std::int32_t lid = std::visit([](const auto& p) { return lid_of(p); }, open.parms);
  Link* link = link_of(id, lid);
  if (link == nullptr) return failure(open, kInvalidLinkIdentifier);
  switch (open.proc) {
    case kDeviceUnlock:
      return unlock(*link, lid);
    case kDestroyLink:
      return destroy_link(lid);
    case kDeviceLock: {
      const auto& p = std::get<LockParms>(open.parms);
      if (locked_out(*link, lid, p.flags, open)) return lock_refused(open);
      lock_holders_[link->device] = lid;
      return encode(DeviceError{kNoError});
    }
    case kDeviceWrite: {
      const auto& p = std::get<WriteParms>(open.parms);
      if (locked_out(*link, lid, p.flags, open)) return lock_refused(open);
      return write(*link, open, p);
    }
    case kDeviceRead: {
      const auto& p = std::get<ReadParms>(open.parms);
      if (locked_out(*link, lid, p.flags, open)) return lock_refused(open);
      return read(*link, open, p);
    }
    default: {
      const auto& p = std::get<GenericParms>(open.parms);
      if (locked_out(*link, lid, p.flags, open)) return lock_refused(open);
      return generic(*link, open);
    }
  }
}

void CoreChannel::close(ConnectionId id) {
  const auto found = connections_.find(id);
  if (found == connections_.end()) return;
  found->second.open.reset();
  std::vector<std::int32_t> gone;
  for (const auto& [lid, link] : links_) {
    if (link.connection == id) gone.push_back(lid);
  }
  for (const std::int32_t lid : gone) end_link(lid, false);
  connections_.erase(id);
  if (dirty_) retry();
}

}  // namespace talmir880::vxi11
