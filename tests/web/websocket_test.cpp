// The page's WebSocket as RFC 6455 has it, and the bounds the web face
// keeps under attack: frames read strictly, the message rate with its
// burst, and the places of requests being read, shared out by peer.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "web/request_places.hpp"
#include "web/websocket.hpp"

namespace talmir880::web {
namespace {

using Kind = Received::Kind;

// A client's frame: FIN unless told, masked with a fixed key unless told.
std::string frame(std::uint8_t opcode, const std::string& payload, bool fin = true,
                  bool masked = true) {
  std::string out(1, static_cast<char>((fin ? 0x80 : 0) | opcode));
  const char mask_bit = masked ? static_cast<char>(0x80) : 0;
  if (payload.size() < 126) {
    out.push_back(static_cast<char>(mask_bit | static_cast<char>(payload.size())));
  } else {
    out.push_back(static_cast<char>(mask_bit | 126));
    out.push_back(static_cast<char>(payload.size() >> 8));
    out.push_back(static_cast<char>(payload.size() & 0xff));
  }
  const std::string key = "\x12\x34\x56\x78";
  if (masked) out += key;
  for (std::size_t i = 0; i < payload.size(); ++i) {
    out.push_back(masked ? static_cast<char>(payload[i] ^ key[i % 4]) : payload[i]);
  }
  return out;
}

std::string code(std::uint16_t c) {
  return {static_cast<char>(c >> 8), static_cast<char>(c & 0xff)};
}

Received fault(CloseCode c) { return {Kind::fault, {}, static_cast<std::uint16_t>(c)}; }

TEST(FrameReader, ReadsAClientsFramesStrictly) {
  struct Case {
    std::string what;
    std::string bytes;
    std::vector<Received> expected;
  };
  const std::string max_ping(125, 'p');
  const std::string text_1 = "\x01";  // opcodes, to keep the table short
  const std::vector<Case> cases = {
      {"a text message", frame(1, "rf_on 1"), {{Kind::text, "rf_on 1", 0}}},
      {"an empty one", frame(1, ""), {{Kind::text, "", 0}}},
      {"UTF-8 text", frame(1, "rf_mhz \xc3\xa9"), {{Kind::text, "rf_mhz \xc3\xa9", 0}}},
      {"unmasked", frame(1, "rf_on 1", true, false), {fault(CloseCode::protocol_error)}},
      {"a reserved bit", "\xc1" + frame(1, "x").substr(1), {fault(CloseCode::protocol_error)}},
      {"an unknown opcode", frame(3, "x"), {fault(CloseCode::protocol_error)}},
      {"binary", frame(2, "x"), {fault(CloseCode::unsupported_data)}},
      {"a ping of 125 bytes", frame(9, max_ping), {{Kind::ping, max_ping, 0}}},
      {"a pong", frame(10, "p"), {{Kind::pong, "p", 0}}},
      {"a ping of 126 bytes", frame(9, max_ping + "p"), {fault(CloseCode::protocol_error)}},
      {"a fragmented ping", frame(9, "p", false), {fault(CloseCode::protocol_error)}},
      {"a message of 64 bytes",
       frame(1, std::string(64, 'm')),
       {{Kind::text, std::string(64, 'm'), 0}}},
      {"one of 65", frame(1, std::string(65, 'm')), {fault(CloseCode::too_big)}},
      {"fragments past 64",
       frame(1, std::string(40, 'm'), false) + frame(0, std::string(25, 'm')),
       {fault(CloseCode::too_big)}},
      {"fragments with a ping between",
       frame(1, "rf_", false) + frame(9, "p") + frame(0, "on ", false) + frame(0, "1"),
       {{Kind::ping, "p", 0}, {Kind::text, "rf_on 1", 0}}},
      {"a continuation of nothing", frame(0, "x"), {fault(CloseCode::protocol_error)}},
      {"a new message inside one",
       frame(1, "a", false) + frame(1, "b"),
       {fault(CloseCode::protocol_error)}},
      {"text not UTF-8", frame(1, "rf_mhz \xc3"), {fault(CloseCode::invalid_data)}},
      {"a long length for a short payload",
       std::string("\x81\xfe\x00\x05\0\0\0\0xxxxx", 13),
       {fault(CloseCode::protocol_error)}},
      {"a close with a reason", frame(8, code(1000) + "bye"), {{Kind::close, "bye", 1000}}},
      {"an empty close", frame(8, ""), {{Kind::close, "", 1005}}},
      {"a close of an application", frame(8, code(4000)), {{Kind::close, "", 4000}}},
      {"a close of one byte", frame(8, "\x03"), {fault(CloseCode::protocol_error)}},
      {"a close with 1005 on the wire", frame(8, code(1005)), {fault(CloseCode::protocol_error)}},
      {"a close with 999", frame(8, code(999)), {fault(CloseCode::protocol_error)}},
      {"a close's reason not UTF-8",
       frame(8, code(1000) + "\xff"),
       {fault(CloseCode::invalid_data)}},
      {"nothing after a fault",
       frame(1, "a", true, false) + frame(1, "b"),
       {fault(CloseCode::protocol_error)}},
      {"half a header", frame(1, "rf_on 1").substr(0, 4), {}},
  };
  for (const Case& c : cases) {
    FrameReader whole(64);
    std::vector<Received> got;
    whole.feed(c.bytes, got);
    EXPECT_EQ(got, c.expected) << c.what;
    FrameReader bytewise(64);
    std::vector<Received> one_by_one;
    for (const char byte : c.bytes) bytewise.feed(std::string_view(&byte, 1), one_by_one);
    EXPECT_EQ(one_by_one, c.expected) << c.what << ", a byte at a time";
  }
}

TEST(ServerFrames, WholeAndUnmasked) {
  EXPECT_EQ(text_frame("{}"), std::string("\x81\x02{}"));
  EXPECT_EQ(pong_frame(""), std::string("\x8a\x00", 2));
  EXPECT_EQ(close_frame(1008), std::string("\x88\x02\x03\xf0"));
  const std::string long_text = text_frame(std::string(300, 's'));
  EXPECT_EQ(long_text.substr(0, 4), std::string("\x81\x7e\x01\x2c"));
  EXPECT_EQ(long_text.size(), 304u);
}

TEST(Handshake, TheKeyIsSixteenBytesInBase64) {
  struct Case {
    std::string key;
    bool valid;
  };
  for (const Case& c : std::vector<Case>{{"dGhlIHNhbXBsZSBub25jZQ==", true},
                                         {"AAAAAAAAAAAAAAAAAAAAAA==", true},
                                         {"+/+/+/+/+/+/+/+/+/+/+w==", true},
                                         {"", false},
                                         {"x", false},
                                         {"dGhlIHNhbXBsZSBub25jZQ", false},
                                         {"dGhlIHNhbXBsZSBub25jZR==", false},
                                         {"dGhlIHNhbXBsZSBub25j*Q==", false},
                                         {"dGhlIHNhbXBsZSBub25jZQ===", false},
                                         {"dGhlIHNhbXBsZSBub25jZQ=A", false}}) {
    EXPECT_EQ(valid_websocket_key(c.key), c.valid) << c.key;
  }
}

TEST(Utf8, WellFormedOnly) {
  struct Case {
    std::string text;
    bool valid;
  };
  for (const Case& c : std::vector<Case>{{"rf_on 1", true},
                                         {"\xc3\xa9\xe2\x82\xac\xf0\x9f\x93\xa1", true},
                                         {"\xf4\x8f\xbf\xbf", true},
                                         {"\xc0\x80", false},
                                         {"\xe0\x80\x80", false},
                                         {"\xed\xa0\x80", false},
                                         {"\xf4\x90\x80\x80", false},
                                         {"\xe2\x82", false},
                                         {"\x80", false},
                                         {"\xff", false}}) {
    EXPECT_EQ(valid_utf8(c.text), c.valid) << c.text;
  }
}

TEST(MessageRate, ABurstAtOnceThenTheRate) {
  using namespace std::chrono_literals;
  const MessageRate::Clock::time_point t0{};
  MessageRate flood(20, 60);
  int taken = 0;
  while (flood.admit(t0)) ++taken;
  EXPECT_EQ(taken, 60);
  EXPECT_FALSE(flood.admit(t0 + 40ms));
  EXPECT_TRUE(flood.admit(t0 + 50ms)) << "one more every 50 ms";
  EXPECT_FALSE(flood.admit(t0 + 50ms));

  // A page that sends 5 a second, read all at once after a 4 s stall of
  // the server, and then as it comes again: never past the allowance.
  MessageRate page(20, 60);
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(page.admit(t0 + i * 200ms));
  for (int i = 0; i < 20; ++i) EXPECT_TRUE(page.admit(t0 + 6s)) << i;
  for (int i = 1; i <= 50; ++i) EXPECT_TRUE(page.admit(t0 + 6s + i * 200ms)) << i;
  // At 21 a second for long, it is not.
  MessageRate fast(20, 60);
  int second = 0;
  for (int i = 0; i < 21 * 70 && fast.admit(t0 + i * 1000ms / 21); ++i) second = i / 21;
  EXPECT_LT(second, 65);
  EXPECT_GT(second, 50);
}

TEST(RequestPlaces, APeerHoldsAFewAndTheOldestMakesRoom) {
  const net::Address a = net::Address::ipv4(0x0a000001);
  const net::Address b = net::Address::ipv4(0x0a000002);
  const net::Address c = net::Address::ipv4(0x0a000003);
  RequestPlaces places(6, 3);
  struct Step {
    RequestPlaces::Id id;
    net::Address peer;
    std::optional<RequestPlaces::Id> closed;
  };
  for (const Step& s : std::vector<Step>{
           {1, a, {}},
           {2, a, {}},
           {3, a, {}},
           {4, a, 1},  // a's fourth: its oldest goes
           {5, b, {}},
           {6, b, {}},
           {7, c, {}},  // six held: a (2, 3, 4), b (5, 6), c (7)
           {8, c, 2},   // full: the oldest of a, who holds the most
           {9, b, 3},   // full, two each: the peer whose oldest is oldest, a
       }) {
    EXPECT_EQ(places.take(s.id, s.peer), s.closed) << s.id;
  }
  places.give_back(4);  // answered, or gone
  EXPECT_EQ(places.take(10, c), std::nullopt);
  EXPECT_EQ(places.take(11, c), 7u) << "c's fourth";
  EXPECT_EQ(places.held(), 6u);
  EXPECT_EQ(places.held_by(c), 3u);
  EXPECT_EQ(places.held_by(a), 0u);
  // Who would give way, asked before: the owner reads it first.
  EXPECT_EQ(places.giving_way(c), 8u);
  EXPECT_EQ(places.giving_way(a), 5u) << "b and c hold three each; b's oldest is oldest";
  places.give_back(5);
  EXPECT_EQ(places.giving_way(a), std::nullopt);
  // Of a peer's places, one that began a request and stopped goes before
  // one that has sent nothing yet, as a browser's just connected.
  places.started(11);
  EXPECT_EQ(places.giving_way(c), 11u);
  EXPECT_EQ(places.take(12, c), 11u);
  EXPECT_EQ(places.giving_way(c), 8u) << "none begun: the oldest";
}

}  // namespace
}  // namespace talmir880::web
