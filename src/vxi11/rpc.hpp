#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace talmir880::vxi11 {

// One ONC RPC call (version 2) as it arrived, its arguments still encoded.
struct Call {
  std::uint32_t xid = 0;
  std::uint32_t prog = 0;
  std::uint32_t vers = 0;
  std::uint32_t proc = 0;
  std::string_view args;  // into the message
};

enum class CallStatus {
  ok,
  unreadable,      // not even an id: nothing can be answered
  not_a_call,      // a reply, or another kind: ignored
  rpc_mismatch,    // not RPC version 2: denied
  bad_credential,  // a flavour we do not take, or a credential that does not parse: denied
};

// Reads the call header; on ok, call.args are the bytes after it. xid is
// set whenever the message had one.
CallStatus read_call(std::string_view message, Call& call);

enum class Refusal : std::uint32_t {
  prog_unavail = 1,
  proc_unavail = 3,
  garbage_args = 4,
  system_err = 5,
};

// Whole reply messages, without record marking.
std::string success_reply(std::uint32_t xid, std::string_view results);
std::string refused_reply(std::uint32_t xid, Refusal why);
std::string prog_mismatch_reply(std::uint32_t xid, std::uint32_t low, std::uint32_t high);
std::string rpc_mismatch_reply(std::uint32_t xid);
std::string auth_error_reply(std::uint32_t xid);

}  // namespace talmir880::vxi11
