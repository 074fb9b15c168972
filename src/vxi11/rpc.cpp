#include "vxi11/rpc.hpp"

#include <rpc/rpc.h>

#include "xdr_stream.hpp"

namespace talmir880::vxi11 {
namespace {

constexpr std::uint32_t kRpcVersion = 2;
// Header, verifier and the few words a refusal carries.
constexpr std::size_t kReplyHeader = 64;

// Results follow the header as bytes of their own.
bool_t no_results(XDR*, ...) { return TRUE; }

bool read_credential(XdrIn& in, bool& taken) {
  std::uint32_t flavor = 0;
  std::string body;
  if (!in.u32(flavor) || !in.bytes(body, MAX_AUTH_BYTES)) return false;
  // We authenticate no one, but take only the flavours clients send.
  taken = flavor == AUTH_NONE || flavor == AUTH_SYS;
  return true;
}

std::string reply(std::uint32_t xid, rpc_msg& message, std::string_view results = {}) {
  message.rm_xid = xid;
  message.rm_direction = REPLY;
  XdrOut out(kReplyHeader + results.size());
  if (!xdr_replymsg(out.raw(), &message)) return {};
  std::string bytes = out.take();
  bytes.append(results);
  return bytes;
}

rpc_msg accepted(accept_stat status) {
  rpc_msg message{};
  message.rm_reply.rp_stat = MSG_ACCEPTED;
  message.acpted_rply.ar_verf = _null_auth;
  message.acpted_rply.ar_stat = status;
  message.acpted_rply.ar_results.where = nullptr;
  message.acpted_rply.ar_results.proc = no_results;
  return message;
}

}  // namespace

CallStatus read_call(std::string_view message, Call& call) {
  XdrIn in(message);
  std::uint32_t type = 0;
  if (!in.u32(call.xid)) return CallStatus::unreadable;
  if (!in.u32(type) || type != CALL) return CallStatus::not_a_call;
  std::uint32_t version = 0;
  if (!in.u32(version)) return CallStatus::bad_credential;
  if (version != kRpcVersion) return CallStatus::rpc_mismatch;
  bool credential = false;
  bool verifier = false;
  if (!in.u32(call.prog) || !in.u32(call.vers) || !in.u32(call.proc) ||
      !read_credential(in, credential) || !read_credential(in, verifier) || !credential) {
    return CallStatus::bad_credential;
  }
  call.args = message.substr(in.position());
  return CallStatus::ok;
}

std::string success_reply(std::uint32_t xid, std::string_view results) {
  rpc_msg message = accepted(SUCCESS);
  return reply(xid, message, results);
}

std::string refused_reply(std::uint32_t xid, Refusal why) {
  rpc_msg message = accepted(static_cast<accept_stat>(why));
  return reply(xid, message);
}

std::string prog_mismatch_reply(std::uint32_t xid, std::uint32_t low, std::uint32_t high) {
  rpc_msg message = accepted(PROG_MISMATCH);
  message.acpted_rply.ar_vers.low = low;
  message.acpted_rply.ar_vers.high = high;
  return reply(xid, message);
}

std::string rpc_mismatch_reply(std::uint32_t xid) {
  rpc_msg message{};
  message.rm_reply.rp_stat = MSG_DENIED;
  message.rjcted_rply.rj_stat = RPC_MISMATCH;
  message.rjcted_rply.rj_vers.low = kRpcVersion;
  message.rjcted_rply.rj_vers.high = kRpcVersion;
  return reply(xid, message);
}

std::string auth_error_reply(std::uint32_t xid) {
  rpc_msg message{};
  message.rm_reply.rp_stat = MSG_DENIED;
  message.rjcted_rply.rj_stat = AUTH_ERROR;
  message.rjcted_rply.rj_why = AUTH_REJECTEDCRED;
  return reply(xid, message);
}

}  // namespace talmir880::vxi11
