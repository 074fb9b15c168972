#include "pacer.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace talmir880::sim {
namespace {

using std::chrono::milliseconds;

const TimePoint T0 = TimePoint{} + std::chrono::hours(1);
constexpr std::size_t kRoom = 1 << 20;

PacerOptions unpaced() {
  PacerOptions o;
  o.baud = 0;
  return o;
}

struct AckCase {
  const char* name;
  PacerOptions options;
  const char* at_once;
  const char* at_50ms;
};

void PrintTo(const AckCase& c, std::ostream* os) { *os << c.name; }

// Without a line, as --baud 0: each write at once.
PacerOptions with(bool silent, bool lowercase, std::optional<int> split_ms) {
  PacerOptions o = unpaced();
  o.silent = silent;
  o.lowercase = lowercase;
  o.split_ack_ms = split_ms;
  return o;
}

class PacerAck : public ::testing::TestWithParam<AckCase> {};

TEST_P(PacerAck, SendsTheAcknowledgementAsTheFaultModeSays) {
  Pacer p(GetParam().options, 1);
  p.reply(kAck, T0);
  EXPECT_EQ(p.take(T0, kRoom).bytes, GetParam().at_once);
  EXPECT_EQ(p.take(T0 + milliseconds(49), kRoom).bytes, "");
  EXPECT_EQ(p.take(T0 + milliseconds(50), kRoom).bytes, GetParam().at_50ms);
  EXPECT_FALSE(p.next_wake().has_value());
}

INSTANTIATE_TEST_SUITE_P(Modes, PacerAck,
                         ::testing::Values(AckCase{"plain", with(false, false, {}), "*R*", ""},
                                           AckCase{"silent", with(true, false, {}), "", ""},
                                           AckCase{"lowercase", with(false, true, {}), "*r*", ""},
                                           AckCase{"split", with(false, false, 50), "*", "R*"},
                                           AckCase{"split_lowercase", with(false, true, 50), "*",
                                                   "r*"},
                                           AckCase{"silent_split", with(true, false, 50), "", ""}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Pacer, SplitAcknowledgementWakesForItsSecondHalf) {
  Pacer p(with(false, false, 20), 1);
  p.reply(kAck, T0);
  p.reply(kAck, T0 + milliseconds(5));
  EXPECT_EQ(p.next_wake(), T0);
  EXPECT_EQ(p.take(T0 + milliseconds(5), kRoom).bytes, "**");
  EXPECT_EQ(p.next_wake(), T0 + milliseconds(20));
  EXPECT_EQ(p.take(T0 + milliseconds(30), kRoom).bytes, "R*R*");
}

int us_since_t0(TimePoint t) {
  return static_cast<int>(std::chrono::duration_cast<std::chrono::microseconds>(t - T0).count());
}

PacerOptions line(int baud, std::optional<int> split_ms = {}, bool lowercase = false,
                  bool silent = false) {
  PacerOptions o = with(silent, lowercase, split_ms);
  o.baud = baud;
  return o;
}

struct Write {
  int at_us;
  int chars;
};

struct InboundCase {
  const char* name;
  int baud;
  std::vector<Write> writes;
  std::vector<int> last_in_us;  // when the last character of each write is in
};

void PrintTo(const InboundCase& c, std::ostream* os) { *os << c.name; }

class PacerInbound : public ::testing::TestWithParam<InboundCase> {};

// 10 bits per character: at 10000 baud, a character a millisecond.
TEST_P(PacerInbound, ACharacterIsInWhenItsTenBitsAre) {
  PacerOptions o;
  o.baud = GetParam().baud;
  Pacer p(o, 1);
  std::vector<int> got;
  for (const Write& w : GetParam().writes) {
    TimePoint last{};
    for (int i = 0; i < w.chars; ++i) last = p.arrive(T0 + std::chrono::microseconds(w.at_us));
    got.push_back(us_since_t0(last));
  }
  EXPECT_EQ(got, GetParam().last_in_us);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, PacerInbound,
    ::testing::Values(
        InboundCase{"one_command", 10000, {{0, 11}}, {11000}},
        InboundCase{
            "a_write_queues_behind_one_arriving", 10000, {{0, 11}, {5000, 11}}, {11000, 22000}},
        InboundCase{
            "a_write_on_an_idle_line_starts_at_once", 10000, {{0, 11}, {50000, 3}}, {11000, 53000}},
        InboundCase{"at_57600", 57600, {{0, 11}, {0, 23}}, {1909, 5902}},
        InboundCase{"no_line", 0, {{0, 11}, {5000, 11}}, {0, 5000}}),
    [](const auto& info) { return std::string(info.param.name); });

struct ReplyCase {
  const char* name;
  PacerOptions options;
  std::vector<int> written_ms;                   // acknowledgements, in order
  std::vector<std::pair<int, std::string>> out;  // when (us) the reader gets what
};

void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.name; }

class PacerReplyOnLine : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(PacerReplyOnLine, AWriteReachesTheReaderWithItsLastCharacter) {
  Pacer p(GetParam().options, 1);
  for (int ms : GetParam().written_ms) p.reply(kAck, T0 + milliseconds(ms));
  std::vector<std::pair<int, std::string>> got;
  while (const std::optional<TimePoint> wake = p.next_wake()) {
    EXPECT_EQ(p.take(*wake - std::chrono::nanoseconds(1), kRoom).bytes, "");
    got.emplace_back(us_since_t0(*wake), p.take(*wake, kRoom).bytes);
  }
  EXPECT_EQ(got, GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, PacerReplyOnLine,
    ::testing::Values(
        ReplyCase{"plain", line(10000), {0}, {{3000, "*R*"}}},
        ReplyCase{"back_to_back", line(10000), {0, 1}, {{3000, "*R*"}, {6000, "*R*"}}},
        ReplyCase{"after_a_quiet_spell", line(10000), {0, 10}, {{3000, "*R*"}, {13000, "*R*"}}},
        ReplyCase{"lowercase", line(10000, {}, true), {0}, {{3000, "*r*"}}},
        ReplyCase{"silent", line(10000, {}, false, true), {0, 1}, {}},
        ReplyCase{"split", line(10000, 5), {0}, {{1000, "*"}, {7000, "R*"}}},
        ReplyCase{"split_at_once", line(10000, 0), {0}, {{1000, "*"}, {3000, "R*"}}},
        ReplyCase{"split_in_order",
                  line(10000, 5),
                  {0, 1},
                  {{1000, "*"}, {7000, "R*"}, {8000, "*"}, {10000, "R*"}}},
        ReplyCase{"at_57600", line(57600), {0}, {{520, "*R*"}}}),
    [](const auto& info) { return std::string(info.param.name); });

// The line's limit for one command at a time: 11 characters in, 3 out.
TEST(Pacer, ACommandIsAcknowledgedFourteenCharactersAfterItIsWritten) {
  Pacer p(line(57600), 1);
  TimePoint in{};
  for (int i = 0; i < 11; ++i) in = p.arrive(T0);  // "$F" and 9 digits
  p.reply(kAck, in);
  EXPECT_EQ(p.next_wake(), T0 + std::chrono::nanoseconds(14 * 173'611));
}

TEST(Pacer, AWriterFarAheadOfTheLineIsHeldBack) {
  Pacer p(line(10000), 1);
  EXPECT_EQ(p.inbound_room(T0), 4096u);
  for (int i = 0; i < 4096; ++i) p.arrive(T0);
  EXPECT_EQ(p.inbound_room(T0), 0u);
  EXPECT_EQ(p.inbound_room_at(T0), T0 + milliseconds(4096 - 1024));
  EXPECT_EQ(p.inbound_room(T0 + milliseconds(3071)), 0u);
  EXPECT_EQ(p.inbound_room(T0 + milliseconds(3072)), 4096u - 1024);
  EXPECT_FALSE(p.inbound_room_at(T0 + milliseconds(3072)).has_value());

  Pacer no_line(unpaced(), 1);
  for (int i = 0; i < 10000; ++i) no_line.arrive(T0);
  EXPECT_GT(no_line.inbound_room(T0), 0u);
}

struct PaceCase {
  int baud;
  int dwell_ms;
  int elapsed_ms;
  int points_sent;
};

void PrintTo(const PaceCase& c, std::ostream* os) {
  *os << c.baud << " baud, dwell " << c.dwell_ms << " ms, after " << c.elapsed_ms << " ms";
}

class PacerSweepPace : public ::testing::TestWithParam<PaceCase> {};

// 4 characters of 10 bits per point, plus the dwell.
TEST_P(PacerSweepPace, PointsDueByTheClock) {
  PacerOptions o;
  o.baud = GetParam().baud;
  o.dwell_ms = GetParam().dwell_ms;
  Pacer p(o, 1);
  p.sweep({100'000'000, 800'000, 1000}, T0);
  const auto out = p.take(T0 + milliseconds(GetParam().elapsed_ms), kRoom);
  EXPECT_EQ(out.bytes.size(), 4u * GetParam().points_sent);
  EXPECT_TRUE(out.logs.empty());
  EXPECT_TRUE(p.sweeping());
}

INSTANTIATE_TEST_SUITE_P(Rates, PacerSweepPace,
                         ::testing::Values(PaceCase{57600, 0, 0, 0}, PaceCase{57600, 0, 100, 144},
                                           PaceCase{9600, 0, 100, 24}, PaceCase{0, 10, 100, 10},
                                           PaceCase{9600, 5, 100, 10}, PaceCase{57600, 0, 1, 1},
                                           PaceCase{57600, 0, 694, 999}));

struct BatchCase {
  int latency_ms;
  int take_at_ms;
  int points_so_far;
};

void PrintTo(const BatchCase& c, std::ostream* os) {
  *os << "latency " << c.latency_ms << " ms, taken at " << c.take_at_ms << " ms";
}

class PacerBatches : public ::testing::TestWithParam<BatchCase> {};

// At 57600 baud a point is due every 0.694 ms. Taken every millisecond, the
// points come in batches: the first at once, the next a latency later with
// all that fell due meanwhile.
TEST_P(PacerBatches, PointsComeInBatchesALatencyApart) {
  PacerOptions o;
  o.latency_ms = GetParam().latency_ms;
  Pacer p(o, 1);
  p.sweep({100'000'000, 800'000, 1000}, T0);
  std::size_t bytes = 0;
  for (int ms = 1; ms <= GetParam().take_at_ms; ++ms)
    bytes += p.take(T0 + milliseconds(ms), kRoom).bytes.size();
  EXPECT_EQ(bytes, 4u * GetParam().points_so_far);
}

INSTANTIATE_TEST_SUITE_P(Latencies, PacerBatches,
                         ::testing::Values(BatchCase{0, 1, 1}, BatchCase{0, 16, 23},
                                           BatchCase{16, 1, 1}, BatchCase{16, 16, 1},
                                           BatchCase{16, 17, 24}, BatchCase{16, 32, 24},
                                           BatchCase{16, 33, 47}, BatchCase{1, 16, 23}));

TEST(Pacer, ABatchWakesTheCallerWhenItIsDue) {
  PacerOptions o;
  o.latency_ms = 16;
  Pacer p(o, 1);
  p.sweep({0, 10, 100}, T0);
  EXPECT_EQ(p.take(T0 + milliseconds(1), kRoom).bytes, "0000");
  EXPECT_EQ(p.next_wake(), T0 + milliseconds(17));
  EXPECT_EQ(p.take(T0 + milliseconds(16), kRoom).bytes, "");
  EXPECT_EQ(p.take(T0 + milliseconds(17), kRoom).bytes.size(), 4u * 23);
}

// At 57600 baud a reply of 3 characters is out 0.52 ms after it was written.
TEST(Pacer, AReplyAfterAQuietSpellIsNotHeldBack) {
  PacerOptions o;
  o.latency_ms = 16;
  Pacer p(o, 1);
  p.reply(kAck, T0);
  EXPECT_EQ(p.take(T0 + milliseconds(1), kRoom).bytes, "*R*");
  p.reply(kAck, T0 + milliseconds(5));
  EXPECT_EQ(p.take(T0 + milliseconds(6), kRoom).bytes, "") << "within the latency of the last";
  EXPECT_EQ(p.next_wake(), T0 + milliseconds(17));
  EXPECT_EQ(p.take(T0 + milliseconds(17), kRoom).bytes, "*R*");
  p.reply(kAck, T0 + milliseconds(100));
  EXPECT_EQ(p.take(T0 + milliseconds(101), kRoom).bytes, "*R*");
}

TEST(Pacer, LatencyLeavesAnUnpacedSweepAlone) {
  PacerOptions o = unpaced();
  o.latency_ms = 16;
  Pacer p(o, 1);
  p.sweep({0, 10, 3}, T0);
  EXPECT_TRUE(p.wants_room());
  EXPECT_EQ(p.take(T0, 4).bytes, "0000");
  EXPECT_EQ(p.take(T0, kRoom).bytes, "00010002");
}

TEST(Pacer, PacedSweepRunsToItsEnd) {
  PacerOptions o;
  o.baud = 0;
  o.dwell_ms = 2;
  Pacer p(o, 1);
  p.sweep({0, 10, 3}, T0);
  EXPECT_EQ(p.next_wake(), T0 + milliseconds(2));
  EXPECT_FALSE(p.wants_room());
  EXPECT_EQ(p.take(T0 + milliseconds(2), kRoom).bytes, "0000");
  EXPECT_EQ(p.next_wake(), T0 + milliseconds(4));
  const auto last = p.take(T0 + milliseconds(10), kRoom);
  EXPECT_EQ(last.bytes, "00010002");
  EXPECT_EQ(last.logs, std::vector<std::string>{"SWEEP DONE points=3"});
  EXPECT_FALSE(p.sweeping());
  EXPECT_FALSE(p.next_wake().has_value());
}

TEST(Pacer, UnpacedSweepFillsTheRoomGiven) {
  Pacer p(unpaced(), 1);
  p.sweep({0, 10, 5}, T0);
  EXPECT_TRUE(p.wants_room());
  EXPECT_FALSE(p.next_wake().has_value());
  EXPECT_EQ(p.take(T0, 8).bytes, "00000001");
  const auto rest = p.take(T0, kRoom);
  EXPECT_EQ(rest.bytes, "000200030004");
  EXPECT_EQ(rest.logs, std::vector<std::string>{"SWEEP DONE points=5"});
  EXPECT_FALSE(p.wants_room());
}

TEST(Pacer, NewSweepRestartsFromTheFirstPoint) {
  Pacer p(unpaced(), 1);
  p.sweep({0, 10, 5}, T0);
  EXPECT_EQ(p.take(T0, 8).bytes, "00000001");
  p.sweep({0, 10, 2}, T0);
  const auto out = p.take(T0, kRoom);
  EXPECT_EQ(out.bytes, "00000001");
  EXPECT_EQ(out.logs, std::vector<std::string>{"SWEEP DONE points=2"});
}

TEST(Pacer, EmptySweepIsDoneAtOnce) {
  Pacer p(PacerOptions{}, 1);
  p.sweep({0, 10, 0}, T0);
  const auto out = p.take(T0, kRoom);
  EXPECT_EQ(out.bytes, "");
  EXPECT_EQ(out.logs, std::vector<std::string>{"SWEEP DONE points=0"});
}

TEST(Pacer, NoiseComesAtItsRateAndNeverHoldsAnR) {
  PacerOptions o;
  o.noise_per_second = 1000;
  Pacer p(o, 42);
  p.start(T0);
  EXPECT_EQ(p.next_wake(), T0 + milliseconds(1));
  std::string all;
  for (int ms = 10; ms <= 1000; ms += 10) all += p.take(T0 + milliseconds(ms), kRoom).bytes;
  EXPECT_EQ(all.size(), 1000u);
  EXPECT_EQ(all.find_first_of("Rr"), std::string::npos);
  EXPECT_NE(all.find_first_not_of(all[0]), std::string::npos) << "noise varies";
}

TEST(Pacer, NoiseNobodyReadsIsLost) {
  PacerOptions o;
  o.noise_per_second = 1000;
  Pacer p(o, 7);
  p.start(T0);
  EXPECT_EQ(p.take(T0 + milliseconds(100), 0).bytes, "");
  EXPECT_EQ(p.take(T0 + milliseconds(110), kRoom).bytes.size(), 10u);
}

TEST(Pacer, AcknowledgementComesBeforeSweepPointsDueTogether) {
  Pacer p(unpaced(), 1);
  p.sweep({0, 10, 1}, T0);
  p.reply(kAck, T0);
  EXPECT_EQ(p.take(T0, kRoom).bytes, "*R*0000");
}

}  // namespace
}  // namespace talmir880::sim
