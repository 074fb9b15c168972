#include "xdr_stream.hpp"

namespace talmir880::vxi11 {

XdrIn::XdrIn(std::string_view bytes) : size_(bytes.size()) {
  // Decoding only reads from the buffer.
  xdrmem_create(&xdr_, const_cast<char*>(bytes.data()), static_cast<u_int>(bytes.size()),
                XDR_DECODE);
}

XdrIn::~XdrIn() { xdr_destroy(&xdr_); }

bool XdrIn::u32(std::uint32_t& value) {
  u_int32_t v = 0;
  if (!xdr_u_int32_t(&xdr_, &v)) return false;
  value = v;
  return true;
}

bool XdrIn::i32(std::int32_t& value) {
  int32_t v = 0;
  if (!xdr_int32_t(&xdr_, &v)) return false;
  value = v;
  return true;
}

bool XdrIn::boolean(bool& value) {
  bool_t v = 0;
  if (!xdr_bool(&xdr_, &v)) return false;
  value = v != 0;
  return true;
}

bool XdrIn::bytes(std::string& out, std::size_t max) {
  std::uint32_t length = 0;
  if (!u32(length) || length > max || length > size_ - position()) return false;
  out.assign(length, '\0');
  return length == 0 || xdr_opaque(&xdr_, out.data(), length);
}

std::size_t XdrIn::position() { return xdr_getpos(&xdr_); }

XdrOut::XdrOut(std::size_t capacity) : buffer_(capacity, '\0') {
  xdrmem_create(&xdr_, buffer_.data(), static_cast<u_int>(buffer_.size()), XDR_ENCODE);
}

XdrOut::~XdrOut() { xdr_destroy(&xdr_); }

bool XdrOut::u32(std::uint32_t value) {
  u_int32_t v = value;
  return xdr_u_int32_t(&xdr_, &v);
}

bool XdrOut::i32(std::int32_t value) {
  int32_t v = value;
  return xdr_int32_t(&xdr_, &v);
}

bool XdrOut::bytes(std::string_view data) {
  if (!u32(static_cast<std::uint32_t>(data.size()))) return false;
  return data.empty() ||
         xdr_opaque(&xdr_, const_cast<char*>(data.data()), static_cast<u_int>(data.size()));
}

std::string XdrOut::take() {
  buffer_.resize(xdr_getpos(&xdr_));
  return std::move(buffer_);
}

}  // namespace talmir880::vxi11
