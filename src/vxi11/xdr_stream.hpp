#pragma once

// libtirpc's XDR on memory, for the sources of this library only: the
// public headers speak in bytes, so nothing above sees <rpc/xdr.h>.

#include <rpc/xdr.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace talmir880::vxi11 {

// Reads XDR items from bytes it does not own. Every read checks the room
// left, so a short or lying message fails a read instead of running over.
class XdrIn {
 public:
  explicit XdrIn(std::string_view bytes);
  ~XdrIn();
  XdrIn(const XdrIn&) = delete;
  XdrIn& operator=(const XdrIn&) = delete;

  bool u32(std::uint32_t& value);
  bool i32(std::int32_t& value);
  bool boolean(bool& value);
  // opaque<> and string<>: a length, the bytes, padding to four. A length
  // over max fails before anything is kept.
  bool bytes(std::string& out, std::size_t max);
  std::size_t position();
  bool at_end() { return position() == size_; }

 private:
  XDR xdr_;
  std::size_t size_;
};

// Writes XDR items into a buffer of a size fixed at the start.
class XdrOut {
 public:
  explicit XdrOut(std::size_t capacity);
  ~XdrOut();
  XdrOut(const XdrOut&) = delete;
  XdrOut& operator=(const XdrOut&) = delete;

  bool u32(std::uint32_t value);
  bool i32(std::int32_t value);
  bool bytes(std::string_view data);
  XDR* raw() { return &xdr_; }
  // What was written; the stream is done with.
  std::string take();

 private:
  std::string buffer_;
  XDR xdr_;
};

}  // namespace talmir880::vxi11
