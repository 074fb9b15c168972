#pragma once

// The page's live link as RFC 6455 has it, without a socket: the upgrade's
// key, the client's frames read strictly and bounded, the server's frames,
// and how fast a page may send.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace talmir880::web {

// Sec-WebSocket-Key: a nonce of 16 bytes in base64, so 24 characters.
bool valid_websocket_key(std::string_view key);

// Well-formed UTF-8: no overlong form, no surrogate, nothing past U+10FFFF.
bool valid_utf8(std::string_view text);

// Why the server closes a page.
enum class CloseCode : std::uint16_t {
  normal = 1000,
  going_away = 1001,
  protocol_error = 1002,
  unsupported_data = 1003,
  invalid_data = 1007,
  policy_violation = 1008,
  too_big = 1009,
};

// What a client's frames said, one at a time.
struct Received {
  enum class Kind { text, ping, pong, close, fault };
  Kind kind = Kind::fault;
  // A text message, a ping's or pong's payload, a close frame's reason.
  std::string data;
  // A close frame's code (1005 when it has none); a fault's code to close with.
  std::uint16_t code = 0;

  bool operator==(const Received&) const = default;
};

// Reads the frames a client sends: masked, with no reserved bit (no
// extension is agreed), of the known opcodes, each length in its shortest
// form; control frames whole and of at most 125 bytes; a message of at most
// `max_message` bytes, text in UTF-8 (binary is not taken). The first
// breach is a fault with the code to close with, and nothing after it is
// read. What it holds is bounded: a frame's header, a control frame, and a
// message up to `max_message`.
class FrameReader {
 public:
  static constexpr std::size_t kMaxControl = 125;

  explicit FrameReader(std::size_t max_message) : max_message_(max_message) {}

  // Takes the bytes that came and appends what they complete to `out`.
  void feed(std::string_view bytes, std::vector<Received>& out);
  bool failed() const { return failed_; }

 private:
  // The header read so far; true once it is whole and checked.
  bool header(std::string_view& bytes, std::vector<Received>& out);
  void fail(CloseCode code, std::vector<Received>& out);
  void frame_done(std::vector<Received>& out);

  std::size_t max_message_;
  bool failed_ = false;
  std::string head_;  // up to 14 bytes
  std::size_t head_size_ = 2;
  bool in_frame_ = false;
  std::uint8_t opcode_ = 0;
  bool fin_ = false;
  std::uint64_t left_ = 0;  // payload bytes of this frame still to come
  std::uint8_t mask_[4] = {};
  std::size_t masked_ = 0;  // payload bytes of this frame unmasked so far
  std::string control_;     // the control frame being read
  std::string message_;     // the text message being read, over its fragments
  bool in_message_ = false;
};

// A frame from the server: whole (FIN) and unmasked.
std::string text_frame(std::string_view text);
std::string pong_frame(std::string_view payload);
std::string close_frame(std::uint16_t code);

// How fast a page may send, counted by when its frames were read: `burst`
// at once, refilled at `per_second`. A server that stalled reads what a
// page sent meanwhile all at once; the burst lets that pass.
class MessageRate {
 public:
  using Clock = std::chrono::steady_clock;

  MessageRate(double per_second, double burst)
      : per_second_(per_second), burst_(burst), allowance_(burst) {}

  // One more frame read at `now`; false past the allowance.
  bool admit(Clock::time_point now);

 private:
  double per_second_;
  double burst_;
  double allowance_;
  Clock::time_point last_{};
  bool started_ = false;
};

}  // namespace talmir880::web
