#pragma once

// Shared by the fuzz targets: a broken property stops the run with a message
// that says which one, so a finding reads as a broken promise, not a bare crash.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace talmir880::fuzzing {

[[noreturn]] inline void fail(std::string_view what, std::string_view detail = {}) {
  std::fprintf(stderr, "\nPROPERTY VIOLATED: %.*s\n", static_cast<int>(what.size()), what.data());
  if (!detail.empty()) {
    std::fprintf(stderr, "  %.*s\n", static_cast<int>(detail.size()), detail.data());
  }
  std::fflush(stderr);
  std::abort();
}

inline void check(bool ok, std::string_view what, std::string_view detail = {}) {
  if (!ok) fail(what, detail);
}

// Bytes made readable in a report: printable ASCII as is, the rest as \xNN.
inline std::string shown(std::string_view bytes) {
  std::string out = "\"";
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
      out += ch;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out + "\"";
}

// The input cut at each 0x00 into at most `parts` pieces; the last one keeps
// whatever follows, zeros included.
inline std::vector<std::string> split_at_zero(std::string_view data, std::size_t parts) {
  std::vector<std::string> out;
  while (out.size() + 1 < parts) {
    std::size_t zero = data.find('\0');
    if (zero == std::string_view::npos) break;
    out.emplace_back(data.substr(0, zero));
    data.remove_prefix(zero + 1);
  }
  out.emplace_back(data);
  out.resize(parts);
  return out;
}

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

inline bool all_digits(std::string_view text) {
  for (char c : text) {
    if (!is_digit(c)) return false;
  }
  return true;
}

}  // namespace talmir880::fuzzing
