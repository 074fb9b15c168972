#include "device.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_only_setting.hpp"

namespace talmir880::sim {
namespace {

// Actions as text, so a whole exchange compares at once.
std::vector<std::string> describe(const std::vector<Action>& actions) {
  std::vector<std::string> out;
  for (const Action& a : actions) {
    switch (a.kind) {
      case Action::Kind::log:
        out.push_back(a.text);
        break;
      case Action::Kind::reply:
        out.push_back("reply " + a.text);
        break;
      case Action::Kind::sweep:
        out.push_back("sweep " + std::to_string(a.sweep.start_hz) + " " +
                      std::to_string(a.sweep.step_hz) + " " + std::to_string(a.sweep.points));
        break;
    }
  }
  return out;
}

// Feeds `input` in pieces of `piece` bytes (0: all at once), then lets the
// line go quiet so a trailing run of junk is logged.
std::vector<std::string> run(Device& device, const std::string& input, std::size_t piece = 0) {
  std::vector<Action> all;
  const std::size_t step = piece == 0 ? input.size() : piece;
  for (std::size_t i = 0; i < input.size(); i += step) {
    for (Action& a : device.feed(std::string_view(input).substr(i, step))) all.push_back(a);
  }
  for (Action& a : device.flush()) all.push_back(a);
  return describe(all);
}

struct Exchange {
  std::string input;
  std::vector<std::string> expected;
};

void PrintTo(const Exchange& e, std::ostream* os) { *os << '"' << escape(e.input) << '"'; }

class DeviceExchange : public ::testing::TestWithParam<Exchange> {};

TEST_P(DeviceExchange, WholeChunk) {
  Device d;
  EXPECT_EQ(run(d, GetParam().input), GetParam().expected);
}

TEST_P(DeviceExchange, OneByteAtATime) {
  Device d;
  EXPECT_EQ(run(d, GetParam().input, 1), GetParam().expected);
}

TEST_P(DeviceExchange, SplitAnywhere) {
  const std::string& input = GetParam().input;
  for (std::size_t cut = 1; cut < input.size(); ++cut) {
    Device d;
    std::vector<Action> all = d.feed(std::string_view(input).substr(0, cut));
    for (Action& a : d.feed(std::string_view(input).substr(cut))) all.push_back(a);
    for (Action& a : d.flush()) all.push_back(a);
    EXPECT_EQ(describe(all), GetParam().expected) << "cut after " << cut;
  }
}

const std::string kAckLine = "reply *R*";

INSTANTIATE_TEST_SUITE_P(
    WellFormed, DeviceExchange,
    ::testing::Values(
        Exchange{"$F043392000", {"$F043392000 RF 433920000 Hz", kAckLine}},
        Exchange{"$F000000001", {"$F000000001 RF OFF", kAckLine}},
        Exchange{"$F999999999", {"$F999999999 RF 9999999990 Hz", kAckLine}},
        Exchange{"$M0001000", {"$M0001000 MOD 1000 Hz", kAckLine}},
        Exchange{"$M0000000", {"$M0000000 MOD OFF", kAckLine}},
        Exchange{"$P3", {"$P3 LEVEL -3 dBm", kAckLine}},
        Exchange{"$P2", {"$P2 LEVEL -6 dBm", kAckLine}},
        Exchange{"$P1", {"$P1 LEVEL -9 dBm", kAckLine}},
        Exchange{"$P0", {"$P0 LEVEL -12 dBm", kAckLine}},
        Exchange{"$S0", {"$S0 SAVE mode=single rf=off mod=off level=-12", kAckLine}},
        Exchange{"$S1", {"$S1 SAVE mode=sweep rf=off mod=off level=-12", kAckLine}},
        Exchange{"$W010000000000800000005",
                 {"$W010000000000800000005 SWEEP start=100000000 step=800000 points=5",
                  "sweep 100000000 800000 5"}},
        Exchange{"$W043392000-000010000500",
                 {"$W043392000-000010000500 SWEEP start=433920000 step=-10000 points=500",
                  "sweep 433920000 -10000 500"}},
        // Joined: no separators, no terminators.
        Exchange{"$F043392000$M0001000$P2",
                 {"$F043392000 RF 433920000 Hz", kAckLine, "$M0001000 MOD 1000 Hz", kAckLine,
                  "$P2 LEVEL -6 dBm", kAckLine}},
        // The device takes exactly 7 digits; an 8th is junk.
        Exchange{
            "$M10000000$P1",
            {"$M1000000 MOD 1000000 Hz", kAckLine, "JUNK \"0\"", "$P1 LEVEL -9 dBm", kAckLine}},
        Exchange{"$M12345678", {"$M1234567 MOD 1234567 Hz", kAckLine, "JUNK \"8\""}}));

INSTANTIATE_TEST_SUITE_P(
    Malformed, DeviceExchange,
    ::testing::Values(
        Exchange{"$X", {"MALFORMED \"$X\""}},
        Exchange{"$f043392000", {"MALFORMED \"$f\"", "JUNK \"043392000\""}},
        Exchange{"$F04339a000$P2",
                 {"MALFORMED \"$F04339a\"", "JUNK \"000\"", "$P2 LEVEL -6 dBm", kAckLine}},
        Exchange{"$F0433$P2", {"MALFORMED \"$F0433\"", "$P2 LEVEL -6 dBm", kAckLine}},
        Exchange{"$$P1", {"MALFORMED \"$\"", "$P1 LEVEL -9 dBm", kAckLine}},
        Exchange{"$P4", {"MALFORMED \"$P4\""}}, Exchange{"$S2", {"MALFORMED \"$S2\""}},
        Exchange{"$F-43392000", {"MALFORMED \"$F-\"", "JUNK \"43392000\""}},
        Exchange{"$W0100000000008-0000005", {"MALFORMED \"$W0100000000008-\"", "JUNK \"0000005\""}},
        Exchange{"$W010000000--00800000005",
                 {"MALFORMED \"$W010000000--\"", "JUNK \"00800000005\""}},
        Exchange{"$W01000000000080000$F043392000",
                 {"MALFORMED \"$W01000000000080000\"", "$F043392000 RF 433920000 Hz", kAckLine}},
        Exchange{"$F\n", {"MALFORMED \"$F\\n\""}},
        Exchange{"noise$P3", {"JUNK \"noise\"", "$P3 LEVEL -3 dBm", kAckLine}},
        Exchange{"a\"b\\\x01\xff", {"JUNK \"a\\\"b\\\\\\x01\\xFF\""}},
        // Cut short with nothing after it: still waiting, nothing to say yet.
        Exchange{"$F0433", {}}));

TEST(Device, KeepsTheSettings) {
  Device d;
  run(d, "$F043392000$M0001000$P2");
  EXPECT_EQ(d.settings().rf_hz, 433'920'000);
  EXPECT_TRUE(d.settings().rf_on);
  EXPECT_EQ(d.settings().mod_hz, 1000);
  EXPECT_TRUE(d.settings().mod_on);
  EXPECT_EQ(d.settings().plain.at("level"), -6);

  // Off keeps the last frequency for when it comes back on.
  run(d, "$F000000001$M0000000");
  EXPECT_FALSE(d.settings().rf_on);
  EXPECT_EQ(d.settings().rf_hz, 433'920'000);
  EXPECT_FALSE(d.settings().mod_on);
  EXPECT_EQ(d.settings().mod_hz, 1000);
}

TEST(Device, MalformedCommandsChangeNothing) {
  Device d;
  run(d, "$F043392000$P2");
  const Settings before = d.settings();
  run(d, "$F12x$P9$M00$F00000000x");
  EXPECT_EQ(d.settings().rf_hz, before.rf_hz);
  EXPECT_TRUE(d.settings().rf_on);
  EXPECT_FALSE(d.settings().mod_on);
  EXPECT_EQ(d.settings().plain.at("level"), -6);
}

TEST(Device, SaveTakesASnapshot) {
  Device d;
  EXPECT_FALSE(d.saved().has_value());
  EXPECT_EQ(run(d, "$F043392000$M0001000$P1$S1").at(6),
            "$S1 SAVE mode=sweep rf=433920000 mod=1000 level=-9");
  ASSERT_TRUE(d.saved().has_value());
  EXPECT_EQ(d.saved()->mode, SaveMode::sweep);

  run(d, "$F000000001$P3");
  const SavedSettings& saved = *d.saved();
  EXPECT_TRUE(saved.settings.rf_on) << "later changes do not touch the snapshot";
  EXPECT_EQ(saved.settings.rf_hz, 433'920'000);
  EXPECT_EQ(saved.settings.mod_hz, 1000);
  EXPECT_EQ(saved.settings.plain.at("level"), -9);

  run(d, "$S0");
  EXPECT_EQ(d.saved()->mode, SaveMode::single_point);
  EXPECT_FALSE(d.saved()->settings.rf_on);
  EXPECT_EQ(d.saved()->settings.plain.at("level"), -3);
}

// A plain setting is taken as its description writes it: given one the
// device does not have, the simulator acknowledges and keeps it; without
// it, its command is as unknown as any other.
TEST(Device, TakesThePlainSettingsItIsGiven) {
  std::vector<protocol::Setting> described(protocol::kSettings.begin(), protocol::kSettings.end());
  described.push_back(testing::kTestOnlyOffset);
  Device with(described);
  EXPECT_EQ(with.settings().plain.at("rf_offset"), 0) << "all zeros until set";
  EXPECT_EQ(run(with, "$O0012000$P2$S0"),
            (std::vector<std::string>{
                "$O0012000 RF_OFFSET 12000 Hz", kAckLine, "$P2 LEVEL -6 dBm", kAckLine,
                "$S0 SAVE mode=single rf=off mod=off level=-6 rf_offset=12000", kAckLine}));
  EXPECT_EQ(with.settings().plain.at("rf_offset"), 12'000);
  // Out of its range, or digits its encoder would not write.
  EXPECT_EQ(run(with, "$O0000999$O2000001"),
            (std::vector<std::string>{"MALFORMED \"$O0000999\"", "MALFORMED \"$O2000001\""}));
  EXPECT_EQ(with.settings().plain.at("rf_offset"), 12'000);

  Device without;
  EXPECT_EQ(run(without, "$O0012000"),
            (std::vector<std::string>{"MALFORMED \"$O\"", "JUNK \"0012000\""}));
  EXPECT_FALSE(without.settings().plain.contains("rf_offset"));
}

TEST(Device, CountsCommandsButNotJunk) {
  Device d;
  run(d, "junk$F043392000$X$P");
  EXPECT_EQ(d.commands(), 2) << "$P is still incomplete";
  run(d, "1");
  EXPECT_EQ(d.commands(), 3);
}

TEST(Device, JunkRunIsLoggedOnceAcrossChunks) {
  Device d;
  EXPECT_TRUE(d.feed("ju").empty());
  EXPECT_TRUE(d.feed("nk").empty());
  EXPECT_TRUE(d.junk_pending());
  EXPECT_EQ(describe(d.feed("$P0")),
            (std::vector<std::string>{"JUNK \"junk\"", "$P0 LEVEL -12 dBm", kAckLine}));
  EXPECT_FALSE(d.junk_pending());
  EXPECT_TRUE(d.flush().empty());
}

TEST(Device, LongJunkIsShownCutWithItsLength) {
  Device d;
  const auto lines = run(d, std::string(1000, 'z'));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "JUNK \"" + std::string(256, 'z') + "\" (1000 bytes)");
}

struct PointCase {
  int index;
  const char* text;
};

void PrintTo(const PointCase& c, std::ostream* os) { *os << c.index; }

class SweepPointText : public ::testing::TestWithParam<PointCase> {};

TEST_P(SweepPointText, FourDigitsOfTheIndex) {
  EXPECT_EQ(sweep_point_text(GetParam().index), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Points, SweepPointText,
                         ::testing::Values(PointCase{0, "0000"}, PointCase{7, "0007"},
                                           PointCase{499, "0499"}, PointCase{9999, "9999"},
                                           PointCase{10000, "0000"}, PointCase{12345, "2345"}));

}  // namespace
}  // namespace talmir880::sim
