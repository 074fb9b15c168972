#include "vxi11/messages.hpp"

#include "xdr_stream.hpp"

namespace talmir880::vxi11 {

bool decode(std::string_view args, CreateLinkParms& out) {
  XdrIn in(args);
  return in.i32(out.client_id) && in.boolean(out.lock_device) && in.u32(out.lock_timeout) &&
         in.bytes(out.device, kMaxDeviceName) && in.at_end();
}

bool decode(std::string_view args, WriteParms& out) {
  XdrIn in(args);
  return in.i32(out.lid) && in.u32(out.io_timeout) && in.u32(out.lock_timeout) &&
         in.i32(out.flags) && in.bytes(out.data, kMaxRecvSize) && in.at_end();
}

bool decode(std::string_view args, ReadParms& out) {
  XdrIn in(args);
  std::int32_t term_char = 0;
  if (!(in.i32(out.lid) && in.u32(out.request_size) && in.u32(out.io_timeout) &&
        in.u32(out.lock_timeout) && in.i32(out.flags) && in.i32(term_char) && in.at_end())) {
    return false;
  }
  // XDR carries a char as an int; the character is its low byte.
  out.term_char = static_cast<char>(term_char & 0xff);
  return true;
}

bool decode(std::string_view args, GenericParms& out) {
  XdrIn in(args);
  return in.i32(out.lid) && in.i32(out.flags) && in.u32(out.lock_timeout) &&
         in.u32(out.io_timeout) && in.at_end();
}

bool decode(std::string_view args, LockParms& out) {
  XdrIn in(args);
  return in.i32(out.lid) && in.i32(out.flags) && in.u32(out.lock_timeout) && in.at_end();
}

bool decode(std::string_view args, LinkParms& out) {
  XdrIn in(args);
  return in.i32(out.lid) && in.at_end();
}

std::string encode(const CreateLinkResp& in) {
  XdrOut out(16);
  out.i32(in.error);
  out.i32(in.lid);
  out.u32(in.abort_port);
  out.u32(in.max_recv_size);
  return out.take();
}

std::string encode(const WriteResp& in) {
  XdrOut out(8);
  out.i32(in.error);
  out.u32(in.size);
  return out.take();
}

std::string encode(const ReadResp& in) {
  XdrOut out(12 + in.data.size() + 3);
  out.i32(in.error);
  out.i32(in.reason);
  out.bytes(in.data);
  return out.take();
}

std::string encode(const ReadStbResp& in) {
  XdrOut out(8);
  out.i32(in.error);
  out.u32(in.stb);
  return out.take();
}

std::string encode(const DeviceError& in) {
  XdrOut out(4);
  out.i32(in.error);
  return out.take();
}

std::string encode(const DocmdResp& in) {
  XdrOut out(8);
  out.i32(in.error);
  out.bytes({});
  return out.take();
}

}  // namespace talmir880::vxi11
