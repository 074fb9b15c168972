#pragma once

#include <cstdint>
#include <string>

namespace talmir880::vxi11 {

// VXI-11's core channel in the system's rpcbind, where VISA clients look
// for it (portmapper GETPORT on port 111). Only one server on a machine can
// be found there: a live entry of another server is left alone, one whose
// port no longer answers (a server that was killed) is replaced.
class RpcbindEntry {
 public:
  enum class Outcome {
    registered,
    replaced,    // registered, in place of an entry whose server is gone
    no_rpcbind,  // nothing answers on rpcbind's socket or port 111
    taken,       // another live server holds the entry
    refused,     // rpcbind said no
  };

  RpcbindEntry() = default;
  ~RpcbindEntry() { unset(); }
  RpcbindEntry(const RpcbindEntry&) = delete;
  RpcbindEntry& operator=(const RpcbindEntry&) = delete;

  // host: the numeric address the channel listens on. other_port: the
  // port of the entry found in the way, for replaced and taken.
  Outcome set(const std::string& host, std::uint16_t port, std::uint16_t& other_port);
  // Removes the entry if it is still ours.
  void unset();

 private:
  bool set_ = false;
  bool ipv6_ = false;
  std::uint16_t port_ = 0;
};

}  // namespace talmir880::vxi11
