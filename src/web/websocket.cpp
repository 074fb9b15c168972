#include "web/websocket.hpp"

#include <algorithm>

namespace talmir880::web {
namespace {

constexpr std::uint8_t kContinuation = 0x0;
constexpr std::uint8_t kText = 0x1;
constexpr std::uint8_t kBinary = 0x2;
constexpr std::uint8_t kClose = 0x8;
constexpr std::uint8_t kPing = 0x9;
constexpr std::uint8_t kPong = 0xa;

bool base64_char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

// The codes a close frame may carry on the wire: the ones RFC 6455 defines
// for use, and those left to libraries and applications.
bool sendable_code(std::uint16_t code) {
  return (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1011) ||
         (code >= 3000 && code <= 4999);
}

std::string frame(std::uint8_t opcode, std::string_view payload) {
  std::string out;
  out.push_back(static_cast<char>(0x80 | opcode));
  if (payload.size() < 126) {
    out.push_back(static_cast<char>(payload.size()));
  } else if (payload.size() <= 0xffff) {
    out.push_back(static_cast<char>(126));
    out.push_back(static_cast<char>(payload.size() >> 8));
    out.push_back(static_cast<char>(payload.size() & 0xff));
  } else {
    out.push_back(static_cast<char>(127));
    for (int shift = 56; shift >= 0; shift -= 8) {
      out.push_back(
          static_cast<char>((static_cast<std::uint64_t>(payload.size()) >> shift) & 0xff));
    }
  }
  return out.append(payload);
}

}  // namespace

bool valid_websocket_key(std::string_view key) {
  return key.size() == 24 && key.substr(22) == "==" &&
         std::all_of(key.begin(), key.begin() + 22, base64_char) &&
         // The last character holds 2 bits of the nonce and 4 of padding.
         std::string_view("AQgw").find(key[21]) != std::string_view::npos;
}

bool valid_utf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t more = 0;
    std::uint32_t point = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xc2 && lead <= 0xdf) {
      more = 1;
      point = lead & 0x1f;
    } else if (lead >= 0xe0 && lead <= 0xef) {
      more = 2;
      point = lead & 0x0f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
      more = 3;
      point = lead & 0x07;
    } else {
      return false;
    }
    if (text.size() - i <= more) return false;
    for (std::size_t k = 1; k <= more; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xc0) != 0x80) return false;
      point = (point << 6) | (next & 0x3f);
    }
    const std::uint32_t least = more == 1 ? 0x80 : more == 2 ? 0x800 : 0x10000;
    if (point < least || point > 0x10ffff || (point >= 0xd800 && point <= 0xdfff)) return false;
    i += more + 1;
  }
  return true;
}

void FrameReader::fail(CloseCode code, std::vector<Received>& out) {
  failed_ = true;
  out.push_back({Received::Kind::fault, {}, static_cast<std::uint16_t>(code)});
}

bool FrameReader::header(std::string_view& bytes, std::vector<Received>& out) {
  while (head_.size() < head_size_ && !bytes.empty()) {
    head_.push_back(bytes.front());
    bytes.remove_prefix(1);
    if (head_.size() != 2) continue;
    const auto first = static_cast<unsigned char>(head_[0]);
    const auto second = static_cast<unsigned char>(head_[1]);
    const std::size_t length7 = second & 0x7f;
    head_size_ = 2 + (length7 == 126 ? 2 : length7 == 127 ? 8 : 0) + 4;
    fin_ = (first & 0x80) != 0;
    opcode_ = first & 0x0f;
    const bool control = (opcode_ & 0x8) != 0;
    if ((first & 0x70) != 0 || (second & 0x80) == 0) {
      fail(CloseCode::protocol_error, out);  // an extension, or a client's frame unmasked
      return false;
    }
    if (opcode_ == kBinary) {
      fail(CloseCode::unsupported_data, out);
      return false;
    }
    if (opcode_ != kContinuation && opcode_ != kText && opcode_ != kClose && opcode_ != kPing &&
        opcode_ != kPong) {
      fail(CloseCode::protocol_error, out);
      return false;
    }
    if (control && (!fin_ || length7 > kMaxControl)) {
      fail(CloseCode::protocol_error, out);
      return false;
    }
    if (!control && (opcode_ == kContinuation) != in_message_) {
      fail(CloseCode::protocol_error, out);  // a fragment out of place
      return false;
    }
  }
  if (head_.size() < head_size_) return false;
  const auto length7 = static_cast<std::size_t>(static_cast<unsigned char>(head_[1]) & 0x7f);
  std::uint64_t length = length7;
  const std::size_t extended = head_size_ - 6;
  if (extended > 0) {
    length = 0;
    for (std::size_t k = 0; k < extended; ++k) {
      length = (length << 8) | static_cast<unsigned char>(head_[2 + k]);
    }
    const std::uint64_t least = extended == 2 ? 126 : 0x10000;
    if (length < least || length >> 63 != 0) {
      fail(CloseCode::protocol_error, out);
      return false;
    }
  }
  if ((opcode_ & 0x8) == 0 && length > max_message_ - std::min(max_message_, message_.size())) {
    fail(CloseCode::too_big, out);
    return false;
  }
  std::copy(head_.end() - 4, head_.end(), mask_);
  left_ = length;
  masked_ = 0;
  in_frame_ = true;
  if ((opcode_ & 0x8) != 0) control_.clear();
  if (opcode_ == kText) in_message_ = true;
  return true;
}

void FrameReader::feed(std::string_view bytes, std::vector<Received>& out) {
  while (!failed_ && (!bytes.empty() || (in_frame_ && left_ == 0))) {
    if (!in_frame_ && !header(bytes, out)) return;
    const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(left_, bytes.size()));
    std::string& into = (opcode_ & 0x8) != 0 ? control_ : message_;
    for (std::size_t k = 0; k < take; ++k) {
      into.push_back(static_cast<char>(bytes[k] ^ mask_[(masked_ + k) % 4]));
    }
    masked_ += take;
    left_ -= take;
    bytes.remove_prefix(take);
    if (left_ == 0) frame_done(out);
  }
}

void FrameReader::frame_done(std::vector<Received>& out) {
  in_frame_ = false;
  head_.clear();
  head_size_ = 2;
  switch (opcode_) {
    case kPing:
      out.push_back({Received::Kind::ping, std::move(control_), 0});
      return;
    case kPong:
      out.push_back({Received::Kind::pong, std::move(control_), 0});
      return;
    case kClose: {
      if (control_.empty()) {
        out.push_back({Received::Kind::close, {}, 1005});
        return;
      }
      if (control_.size() < 2) {
        fail(CloseCode::protocol_error, out);
        return;
      }
      const auto code = static_cast<std::uint16_t>((static_cast<unsigned char>(control_[0]) << 8) |
                                                   static_cast<unsigned char>(control_[1]));
      if (!sendable_code(code)) {
        fail(CloseCode::protocol_error, out);
      } else if (!valid_utf8(std::string_view(control_).substr(2))) {
        fail(CloseCode::invalid_data, out);
      } else {
        out.push_back({Received::Kind::close, control_.substr(2), code});
      }
      return;
    }
    default:
      break;
  }
  if (!fin_) return;
  in_message_ = false;
  if (!valid_utf8(message_)) {
    fail(CloseCode::invalid_data, out);
    return;
  }
  out.push_back({Received::Kind::text, std::move(message_), 0});
  message_.clear();
}

std::string text_frame(std::string_view text) { return frame(kText, text); }

std::string pong_frame(std::string_view payload) { return frame(kPong, payload); }

std::string close_frame(std::uint16_t code) {
  const char payload[2] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xff)};
  return frame(kClose, std::string_view(payload, 2));
}

bool MessageRate::admit(Clock::time_point now) {
  if (started_ && now > last_) {
    const double seconds = std::chrono::duration<double>(now - last_).count();
    allowance_ = std::min(burst_, allowance_ + seconds * per_second_);
  }
  started_ = true;
  last_ = std::max(last_, now);
  if (allowance_ < 1.0) return false;
  allowance_ -= 1.0;
  return true;
}

}  // namespace talmir880::web
