#pragma once

// XDR written by hand, word by word, so the tests check libtirpc's
// encoding against the layout rather than against itself.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace talmir880::vxi11::testing {

class Words {
 public:
  Words() = default;
  Words(std::initializer_list<std::uint32_t> words) {
    for (std::uint32_t w : words) word(w);
  }
  Words& word(std::uint32_t w) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes_.push_back(static_cast<char>(w >> shift));
    return *this;
  }
  // opaque<> and string<>: length, bytes, zeros to a multiple of four.
  Words& opaque(std::string_view data) {
    word(static_cast<std::uint32_t>(data.size()));
    bytes_.append(data);
    bytes_.append((4 - data.size() % 4) % 4, '\0');
    return *this;
  }
  Words& raw(std::string_view data) {
    bytes_.append(data);
    return *this;
  }
  const std::string& str() const { return bytes_; }
  operator std::string_view() const { return bytes_; }

 private:
  std::string bytes_;
};

// An RPC call header with AUTH_NONE credential and verifier.
inline Words call_header(std::uint32_t xid, std::uint32_t prog, std::uint32_t vers,
                         std::uint32_t proc) {
  return Words{xid, 0, 2, prog, vers, proc, 0, 0, 0, 0};
}

}  // namespace talmir880::vxi11::testing
