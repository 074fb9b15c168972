// The device's command texts, byte for byte, from the values alone.
#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <string>

#include "protocol/commands.hpp"

namespace talmir880::protocol {
namespace {

struct FrequencyCase {
  double hz;
  const char* command;
};

TEST(Protocol, RfFrequencyKeepsNineDigitsAndDropsTheHertz) {
  const FrequencyCase cases[] = {
      {100e6, "$F010000000"},    {2.45e9, "$F245000000"}, {100000005, "$F010000000"},
      {12.5e3, "$F000001250"},   {0, "$F000000001"},      {0.4, "$F000000000"},
      {15, "$F000000001"},       {15e9, "$F150000000"},   {9999999999, "$F999999999"},
      {433.92e6, "$F043392000"},
  };
  for (const auto& c : cases) EXPECT_EQ(rf_frequency(c.hz), c.command) << c.hz;
}

TEST(Protocol, ModulationFrequencyIsInHertzAndGrowsPastSevenDigits) {
  const FrequencyCase cases[] = {
      {1e3, "$M0001000"}, {400, "$M0000400"},   {2.5e3, "$M0002500"},
      {0, "$M0000000"},   {10e6, "$M10000000"},
  };
  for (const auto& c : cases) EXPECT_EQ(modulation_frequency(c.hz), c.command) << c.hz;
}

TEST(Protocol, FourLevelsAndNoOther) {
  EXPECT_EQ(rf_level(-3), "$P3");
  EXPECT_EQ(rf_level(-6), "$P2");
  EXPECT_EQ(rf_level(-9), "$P1");
  EXPECT_EQ(rf_level(-12), "$P0");
  for (int dbm : {0, -1, -4, -15, 3}) EXPECT_THROW(rf_level(dbm), std::invalid_argument) << dbm;
}

TEST(Protocol, SaveCarriesTheMode) {
  EXPECT_EQ(save(SaveMode::single_point), "$S0");
  EXPECT_EQ(save(SaveMode::sweep), "$S1");
}

struct SweepCase {
  double start_hz, step_hz, points;
  const char* command;
};

TEST(Protocol, SweepFieldsAreRoundedAndNeverCut) {
  const SweepCase cases[] = {
      {100e6, 800e3, 500, "$W010000000000800000500"},
      {50e6, (3000e6 - 50e6) / 9999, 9999, "$W005000000000295039999"},
      {0, 125, 4000, "$W000000000000000134000"},
      {500e6, -800e3, 500, "$W050000000-000800000500"},
      {100000005, 0, 5, "$W010000001000000000005"},
      {100e9, 2e9, 12000, "$W1000000000020000000012000"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sweep(c.start_hz, c.step_hz, c.points), c.command) << c.command;
  }
  EXPECT_THROW(sweep(std::numeric_limits<double>::infinity(), 0, 5), std::domain_error);
}

TEST(Protocol, OnlyAnUpperCaseRAcknowledges) {
  constexpr auto none = std::string_view::npos;
  EXPECT_EQ(acknowledgement_in("*R*R"), 1u);
  EXPECT_EQ(acknowledgement_in("R"), 0u);
  EXPECT_EQ(acknowledgement_in("*r*"), none);
  EXPECT_EQ(acknowledgement_in("0123"), none);
  EXPECT_EQ(acknowledgement_in(""), none);
}

// Every command an encoder makes reads back as the values it was made from,
// at the device's resolution; nothing else reads as a command.
TEST(Protocol, DecodingReadsBackWhatTheEncodersMade) {
  using Kind = Decoded::Kind;
  struct Case {
    std::string command;
    Kind kind;
    double hz, step_hz;
    int points, level_dbm;
  };
  const Case cases[] = {
      {rf_frequency(433.92e6), Kind::rf, 433.92e6, 0, 0, 0},
      {rf_frequency(100000005), Kind::rf, 100e6, 0, 0, 0},
      {rf_frequency(kMaxRfHz), Kind::rf, kMaxRfHz, 0, 0, 0},
      {rf_frequency(0), Kind::rf_off, 0, 0, 0, 0},
      {modulation_frequency(400), Kind::modulation, 400, 0, 0, 0},
      {modulation_frequency(kMaxModulationHz), Kind::modulation, kMaxModulationHz, 0, 0, 0},
      {modulation_frequency(0), Kind::modulation_off, 0, 0, 0, 0},
      {rf_level(-3), Kind::level, 0, 0, 0, -3},
      {rf_level(-12), Kind::level, 0, 0, 0, -12},
      {sweep(100e6, 800e3, 500), Kind::sweep, 100e6, 800e3, 500, 0},
      {sweep(500e6, -800e3, 5), Kind::sweep, 500e6, -800e3, 5, 0},
      {sweep(10, 10, 9999), Kind::sweep, 10, 10, 9999, 0},
  };
  for (const auto& c : cases) {
    const std::optional<Decoded> d = decode(c.command);
    ASSERT_TRUE(d) << c.command;
    EXPECT_EQ(d->kind, c.kind) << c.command;
    EXPECT_EQ(d->hz, c.hz) << c.command;
    EXPECT_EQ(d->step_hz, c.step_hz) << c.command;
    EXPECT_EQ(d->points, c.points) << c.command;
    EXPECT_EQ(d->level_dbm, c.level_dbm) << c.command;
  }
  for (int dbm : kLevelsDbm) EXPECT_EQ(decode(rf_level(dbm))->level_dbm, dbm);
  EXPECT_EQ(decode(save(SaveMode::sweep))->mode, SaveMode::sweep);
  EXPECT_EQ(decode(save(SaveMode::single_point))->mode, SaveMode::single_point);
  for (const char* other :
       {"", "$", "$F", "$F01000000", "$F0100000000", "$F01000000x", "$M000040", "$P4", "$P", "$S2",
        "$W01000000000080000050", "$X1", "F010000000", "$W0100000000008000005000"}) {
    EXPECT_FALSE(decode(other)) << other;
  }
}

}  // namespace
}  // namespace talmir880::protocol
