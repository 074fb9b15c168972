#include "vxi11/core_channel.hpp"

#include <algorithm>
#include <vector>

#include "vxi11/rpc.hpp"

namespace talmir880::vxi11 {
namespace {

constexpr int kMessageAvailable = 16;  // MAV, bit 4 of the status byte

// Which of `count` devices a link names: inst0, inst1, ... as VISA names a
// LAN instrument's devices, in any case; nothing for another name.
std::optional<std::size_t> device_index(std::string_view name, std::size_t count) {
  constexpr std::string_view kPrefix = "inst";
  if (name.size() <= kPrefix.size() || name.size() > kPrefix.size() + 2) return std::nullopt;
  for (std::size_t i = 0; i < kPrefix.size(); ++i) {
    const char c = name[i];
    if ((c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != kPrefix[i]) return std::nullopt;
  }
  const std::string_view digits = name.substr(kPrefix.size());
  if (digits.size() > 1 && digits[0] == '0') return std::nullopt;
  std::size_t index = 0;
  for (const char d : digits) {
    if (d < '0' || d > '9') return std::nullopt;
    index = index * 10 + static_cast<std::size_t>(d - '0');
  }
  if (index >= count) return std::nullopt;
  return index;
}

std::int32_t lid_of(const auto& parms) {
  if constexpr (requires { parms.lid; }) {
    return parms.lid;
  } else {
    return 0;
  }
}

}  // namespace

class CoreChannel::LinkEvents final : public scpi::ClientEvents {
 public:
  LinkEvents(CoreChannel& channel, std::int32_t lid) : channel_(channel), lid_(lid) {}
  void answer(std::string text) override { channel_.answered(lid_, std::move(text)); }
  void room() override { channel_.settle(); }

 private:
  CoreChannel& channel_;
  std::int32_t lid_;
};

CoreChannel::CoreChannel(std::vector<scpi::Instrument*> instruments)
    : instruments_(std::move(instruments)), lock_holders_(instruments_.size()) {}

CoreChannel::~CoreChannel() {
  ++depth_;
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
  ++depth_;
  if (std::optional<std::string> results = attempt(id, *open)) {
    connection.events->reply(success_reply(open->xid, *results));
  } else {
    connection.open = std::move(open);
  }
  --depth_;
  if (dirty_) retry();
  expire(now);
}

// The call as the core channel takes it, with its deadlines; nothing when it
// is answered at once (the refusal, or the reply of a procedure that needs
// no link) or not at all (not a call).
std::optional<CoreChannel::Open> CoreChannel::opened(std::string_view message,
                                                     Clock::time_point now, std::string& reply) {
  Call call;
  if (!read_envelope(message, call, reply)) return std::nullopt;
  Open open;
  open.xid = call.xid;
  open.proc = call.proc;
  if (!read_parms(call, open, reply)) return std::nullopt;
  using std::chrono::milliseconds;
  std::visit(
      [&](const auto& p) {
        if constexpr (requires { p.lock_timeout; }) {
          open.lock_deadline = now + milliseconds(p.lock_timeout);
        }
        if constexpr (requires { p.io_timeout; }) {
          open.io_deadline = now + milliseconds(p.io_timeout);
        }
      },
      open.parms);
  return open;
}

// An RPC call of the core channel's program and version; otherwise the
// reply that refuses it, or none for what is not a call.
bool CoreChannel::read_envelope(std::string_view message, Call& call, std::string& reply) {
  switch (read_call(message, call)) {
    case CallStatus::unreadable:
    case CallStatus::not_a_call:
      return false;
    case CallStatus::rpc_mismatch:
      reply = rpc_mismatch_reply(call.xid);
      return false;
    case CallStatus::bad_credential:
      reply = auth_error_reply(call.xid);
      return false;
    case CallStatus::ok:
      break;
  }
  if (call.prog != kDeviceCore) {
    reply = refused_reply(call.xid, Refusal::prog_unavail);
    return false;
  }
  if (call.vers != kDeviceCoreVersion) {
    reply = prog_mismatch_reply(call.xid, kDeviceCoreVersion, kDeviceCoreVersion);
    return false;
  }
  return true;
}

// The procedure's parameters; a procedure answered without them (or
// refused, or with parameters that do not decode) leaves its reply.
bool CoreChannel::read_parms(const Call& call, Open& open, std::string& reply) {
  const auto take = [&](auto parms) {
    if (!decode(call.args, parms)) return false;
    open.parms = std::move(parms);
    return true;
  };
  bool decoded = true;
  switch (call.proc) {
    case kNull:
      reply = success_reply(call.xid, {});
      return false;
    case kCreateLink:
      decoded = take(CreateLinkParms{});
      break;
    case kDeviceWrite:
      decoded = take(WriteParms{});
      break;
    case kDeviceRead:
      decoded = take(ReadParms{});
      break;
    case kDeviceReadStb:
    case kDeviceTrigger:
    case kDeviceClear:
    case kDeviceRemote:
    case kDeviceLocal:
      decoded = take(GenericParms{});
      break;
    case kDeviceLock:
      decoded = take(LockParms{});
      break;
    case kDeviceUnlock:
    case kDestroyLink:
      decoded = take(LinkParms{});
      break;
    case kDeviceEnableSrq:
    case kCreateIntrChan:
    case kDestroyIntrChan:
      reply = success_reply(call.xid, encode(DeviceError{kOperationNotSupported}));
      return false;
    case kDeviceDocmd:
      reply = success_reply(call.xid, encode(DocmdResp{kOperationNotSupported}));
      return false;
    default:
      reply = refused_reply(call.xid, Refusal::proc_unavail);
      return false;
  }
  if (!decoded) reply = refused_reply(call.xid, Refusal::garbage_args);
  return decoded;
}

std::string CoreChannel::failure(const Open& open, std::int32_t error) {
  switch (open.proc) {
    case kCreateLink:
      return encode(CreateLinkResp{error, 0, 0, 0});
    case kDeviceWrite:
      return encode(WriteResp{error, static_cast<std::uint32_t>(open.written)});
    case kDeviceRead:
      return encode(ReadResp{error, 0, {}});
    case kDeviceReadStb:
      return encode(ReadStbResp{error, 0});
    default:
      return encode(DeviceError{error});
  }
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

std::optional<std::string> CoreChannel::lock_refused(const Open& open) {
  if (open.blocked == Blocked::lock) return std::nullopt;
  return failure(open, kDeviceLockedByAnotherLink);
}

bool CoreChannel::locked_out(const Link& link, std::int32_t lid, std::int32_t flags, Open& open) {
  const std::optional<std::int32_t>& holder = lock_holders_[link.device];
  if (!holder || *holder == lid) return false;
  if ((flags & kWaitLock) != 0) open.blocked = Blocked::lock;
  return true;
}

std::optional<std::string> CoreChannel::create_link(ConnectionId id, Open& open,
                                                    const CreateLinkParms& p) {
  const std::optional<std::size_t> device = device_index(p.device, instruments_.size());
  if (!device) return failure(open, kDeviceNotAccessible);
  scpi::Instrument& instrument = *instruments_[*device];
  if (p.lock_device && lock_holders_[*device]) {
    open.blocked = Blocked::lock;
    return std::nullopt;
  }
  const std::int32_t lid = next_lid_++;
  auto events = std::make_unique<LinkEvents>(*this, lid);
  const std::optional<scpi::ClientId> client =
      instrument.attach(*events, connections_[id].who + " VXI-11");
  if (!client) return failure(open, kOutOfResources);
  Link& link = links_[lid];
  link.device = *device;
  link.instrument = &instrument;
  link.input = std::make_unique<scpi::LineFeeder>(instrument);
  link.connection = id;
  link.client = *client;
  link.events = std::move(events);
  if (p.lock_device) lock_holders_[*device] = lid;
  return encode(CreateLinkResp{kNoError, lid, 0, kMaxRecvSize});
}

std::optional<std::string> CoreChannel::write(Link& link, Open& open, const WriteParms& p) {
  const std::string_view data = p.data;
  open.written += link.input->feed(link.client, data.substr(open.written));
  // END ends the message, and so the line, when no LF did.
  if (open.written < data.size() || ((p.flags & kEnd) != 0 && !link.input->end(link.client))) {
    open.blocked = Blocked::io;
    return std::nullopt;
  }
  return encode(WriteResp{kNoError, static_cast<std::uint32_t>(data.size())});
}

std::optional<std::string> CoreChannel::read(Link& link, Open& open, const ReadParms& p) {
  if (link.output.empty()) {
    open.blocked = Blocked::io;
    return std::nullopt;
  }
  const std::string_view rest = std::string_view(link.output.front()).substr(link.output_read);
  std::size_t n = std::min<std::size_t>(rest.size(), p.request_size);
  ReadResp resp;
  if ((p.flags & kTermCharSet) != 0) {
    const std::size_t at = rest.substr(0, n).find(p.term_char);
    if (at != std::string_view::npos) {
      n = at + 1;
      resp.reason |= kReasonTermChar;
    }
  }
  if (n == rest.size()) resp.reason |= kReasonEnd;
  if (resp.reason == 0) resp.reason = kReasonRequestCount;
  resp.data = rest.substr(0, n);
  link.output_read += n;
  link.output_bytes -= n;
  if (link.output_read == link.output.front().size()) {
    link.output.pop_front();
    link.output_read = 0;
  }
  return encode(resp);
}

std::optional<std::string> CoreChannel::generic(Link& link, Open& open) {
  switch (open.proc) {
    case kDeviceReadStb: {
      const int stb = link.instrument->status_byte(link.client) |
                      (link.output_bytes > 0 ? kMessageAvailable : 0);
      return encode(ReadStbResp{kNoError, static_cast<std::uint8_t>(stb & 0xff)});
    }
    case kDeviceTrigger:
      // The bus trigger starts a pass, as INIT does, in its turn among the
      // link's lines.
      if (link.instrument->backlog(link.client) >= scpi::Instrument::kMaxBacklog) {
        open.blocked = Blocked::io;
        return std::nullopt;
      }
      link.instrument->submit(link.client, "INIT");
      break;
    case kDeviceClear:
      link.instrument->clear(link.client);
      // A line already running (an *OPC? behind a pass) would still answer:
      // the link goes on as a fresh client with the same enables, so nothing from before the
      // clear reaches it. With every place taken it stays as it is.
      if (const std::optional<scpi::ClientId> fresh =
              link.instrument->renew(link.client, *link.events)) {
        link.client = *fresh;
      }
      link.input->clear();
      link.output.clear();
      link.output_read = 0;
      link.output_bytes = 0;
      break;
    default:  // remote and local: the server has no front panel to lock out
      break;
  }
  return encode(DeviceError{kNoError});
}

std::string CoreChannel::unlock(const Link& link, std::int32_t lid) {
  std::optional<std::int32_t>& holder = lock_holders_[link.device];
  if (holder != lid) return encode(DeviceError{kNoLockHeldByThisLink});
  holder.reset();
  dirty_ = true;
  return encode(DeviceError{kNoError});
}

std::string CoreChannel::destroy_link(std::int32_t lid) {
  end_link(lid, true);
  return encode(DeviceError{kNoError});
}

CoreChannel::Link* CoreChannel::link_of(ConnectionId id, std::int32_t lid) {
  const auto found = links_.find(lid);
  return found != links_.end() && found->second.connection == id ? &found->second : nullptr;
}

void CoreChannel::end_link(std::int32_t lid, bool orderly) {
  const auto found = links_.find(lid);
  if (found == links_.end()) return;
  Link& link = found->second;
  // An orderly end runs a last line without LF, as the raw socket does at
  // FIN, when there is room for it.
  if (orderly) link.input->end(link.client);
  link.instrument->detach(link.client);
  if (lock_holders_[link.device] == lid) {
    lock_holders_[link.device].reset();
    dirty_ = true;
  }
  links_.erase(found);
}

void CoreChannel::answered(std::int32_t lid, std::string text) {
  const auto found = links_.find(lid);
  if (found == links_.end()) return;
  Link& link = found->second;
  Connection& connection = connections_.at(link.connection);
  if (connection.overflowed) return;
  text.push_back('\n');
  link.output_bytes += text.size();
  link.output.push_back(std::move(text));
  if (link.output_bytes > kMaxUnread) {
    connection.overflowed = true;
    connection.events->overflow();
    return;
  }
  settle();
}

void CoreChannel::close(ConnectionId id) {
  const auto found = connections_.find(id);
  if (found == connections_.end()) return;
  ++depth_;
  found->second.open.reset();
  std::vector<std::int32_t> gone;
  for (const auto& [lid, link] : links_) {
    if (link.connection == id) gone.push_back(lid);
  }
  for (const std::int32_t lid : gone) end_link(lid, false);
  connections_.erase(id);
  --depth_;
  if (dirty_) retry();
}

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
  if (depth_ == 0) retry();
}

void CoreChannel::retry() {
  ++depth_;
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
  --depth_;
}

}  // namespace talmir880::vxi11
