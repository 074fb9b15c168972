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
  EXPECT_TRUE(acknowledges("*R*"));
  EXPECT_TRUE(acknowledges("R"));
  EXPECT_FALSE(acknowledges("*r*"));
  EXPECT_FALSE(acknowledges("0123"));
  EXPECT_FALSE(acknowledges(""));
}

}  // namespace
}  // namespace talmir880::protocol
