// A call decoded from its RPC message, and the results that carry only an
// error.
#include "vxi11/core_channel.hpp"
#include "vxi11/rpc.hpp"

namespace talmir880::vxi11 {

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

}  // namespace talmir880::vxi11
