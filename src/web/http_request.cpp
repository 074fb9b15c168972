#include "web/http_request.hpp"

#include <algorithm>
#include <cctype>

namespace talmir880::web {
namespace {

bool token_char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 ||
         std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool is_token(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), token_char);
}

// Visible ASCII, spaces and tabs: what a header value or a target may hold.
bool plain_text(std::string_view text, bool spaces) {
  return std::all_of(text.begin(), text.end(), [spaces](char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u > 0x20 && u < 0x7f) || (spaces && (c == ' ' || c == '\t'));
  });
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool read_request_line(std::string_view line, Request& out) {
  const std::size_t first = line.find(' ');
  const std::size_t second = line.find(' ', first + 1);
  if (first == std::string_view::npos || second == std::string_view::npos) return false;
  const std::string_view method = line.substr(0, first);
  const std::string_view target = line.substr(first + 1, second - first - 1);
  const std::string_view version = line.substr(second + 1);
  if (!is_token(method) || target.empty() || target.front() != '/' || !plain_text(target, false))
    return false;
  if (version != "HTTP/1.1" && version != "HTTP/1.0") return false;
  out.method = method;
  out.target = target;
  out.version = version;
  return true;
}

// Headers whose second copy would let two readers disagree on the request.
constexpr std::string_view kSingle[] = {"host", "origin", "content-length", "cookie"};

bool read_header(std::string_view line, Request& out) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos || !is_token(line.substr(0, colon))) return false;
  const std::string_view value = trim(line.substr(colon + 1));
  if (!plain_text(value, true)) return false;
  std::string name = lower(line.substr(0, colon));
  if (std::find(std::begin(kSingle), std::end(kSingle), name) != std::end(kSingle) &&
      out.header(name)) {
    return false;
  }
  out.headers.emplace_back(std::move(name), std::string(value));
  return out.headers.size() <= kMaxHeaders;
}

bool read_length(Request& out) {
  if (out.header("transfer-encoding")) return false;  // no chunked bodies here
  const std::optional<std::string_view> length = out.header("content-length");
  if (!length) return true;
  if (length->empty() || length->size() > 6 ||
      !std::all_of(length->begin(), length->end(),
                   [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
    return false;
  }
  out.content_length = std::stoul(std::string(*length));
  return true;
}

}  // namespace

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::optional<std::string_view> Request::header(std::string_view name) const {
  for (const auto& [n, v] : headers) {
    if (n == name) return v;
  }
  return std::nullopt;
}

std::string_view Request::path() const {
  const std::string_view all = target;
  return all.substr(0, all.find('?'));
}

bool Request::upgrade() const {
  const std::optional<std::string_view> up = header("upgrade");
  const std::optional<std::string_view> connection = header("connection");
  return up && connection && lower(*up) == "websocket" &&
         lower(*connection).find("upgrade") != std::string::npos;
}

ReadResult read_head(std::string_view bytes) {
  const std::size_t end = bytes.find("\r\n\r\n");
  if (end == std::string_view::npos) {
    return {bytes.size() >= kMaxHead ? Reading::too_large : Reading::incomplete, {}};
  }
  if (end + 4 > kMaxHead) return {Reading::too_large, {}};
  Request request;
  request.head_size = end + 4;
  std::string_view rest = bytes.substr(0, end + 2);
  bool first = true;
  while (!rest.empty()) {
    const std::size_t eol = rest.find("\r\n");
    const std::string_view line = rest.substr(0, eol);
    rest.remove_prefix(eol + 2);
    // A folded line or a stray CR or LF inside one is refused, not guessed at.
    if (line.find_first_of("\r\n") != std::string_view::npos) return {Reading::malformed, {}};
    if (first ? !read_request_line(line, request) : !read_header(line, request))
      return {Reading::malformed, {}};
    first = false;
  }
  if (!read_length(request)) return {Reading::malformed, {}};
  if (request.version == "HTTP/1.1" && !request.header("host")) return {Reading::malformed, {}};
  if (request.content_length > kMaxBody) return {Reading::too_large, {}};
  return {Reading::done, std::move(request)};
}

}  // namespace talmir880::web
