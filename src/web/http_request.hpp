#pragma once

// The head of an HTTP/1.1 request as the web face reads it: bounded, strict,
// and nothing it does not need (no chunked bodies, no folded headers).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talmir880::web {

// A head longer than this, or with more headers, ends the connection:
// browsers send a few hundred bytes.
inline constexpr std::size_t kMaxHead = 8 * 1024;
inline constexpr std::size_t kMaxHeaders = 64;
// The one body the face takes is a password.
inline constexpr std::size_t kMaxBody = 1024;

struct Request {
  std::string method;
  std::string target;  // the path, with its query if any
  std::string version;
  std::vector<std::pair<std::string, std::string>> headers;  // names in lower case
  std::size_t content_length = 0;
  std::size_t head_size = 0;  // bytes up to and including the blank line

  // The first header of that name (lower case), if any.
  std::optional<std::string_view> header(std::string_view name) const;
  // The path without its query.
  std::string_view path() const;
  // A WebSocket upgrade (Upgrade: websocket, Connection naming upgrade).
  bool upgrade() const;
};

enum class Reading { incomplete, done, malformed, too_large };

struct ReadResult {
  Reading state = Reading::incomplete;
  Request request;  // when done
};

// Reads the head from the bytes a connection received so far.
ReadResult read_head(std::string_view bytes);

// Lower-case ASCII.
std::string lower(std::string_view text);

}  // namespace talmir880::web
