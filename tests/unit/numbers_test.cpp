#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "common/numbers.hpp"
#include "common/text.hpp"
#include "protocol/commands.hpp"

namespace talmir880 {
namespace {

using protocol::zero_padded;

struct LeadingCase {
  const char* text;
  double value;
};

TEST(LeadingNumber, ReadsTheNumberAtTheStart) {
  const LeadingCase cases[] = {
      {"100MHz", 100},
      {"1 000.5", 1000.5},
      {"1.5.3", 1.5},
      {"", 0},
      {"OFF", 0},
      {"MOD5", 0},
      {"0100.000000", 100},
      {"  \t\n42", 42},
      {"4 3\t3.9\n2", 433.92},
      {"+7", 7},
      {"-2.5", -2.5},
      {"- 2.5", -2.5},
      {".5", 0.5},
      {"-.25x", -0.25},
      {"5.", 5},
      {".", 0},
      {"-", 0},
      {"+-1", 0},
      {"1e3", 1000},
      {"1E3", 1000},
      {"1d3", 1000},
      {"1D+3", 1000},
      {"2.5e-2", 0.025},
      {"1 e 3", 1000},
      {"1e", 1},
      {"1e+", 1},
      {"1ex", 1},
      {"3KHz", 3},
      {"12,5", 12},
      {"0x10", 0},
      {"1e-400", 0},
      {"000000000000000000000000000001", 1},
      {"123456789012345678", 123456789012345678.0},
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(leading_number(c.text), c.value) << '"' << c.text << '"';
  }
}

TEST(LeadingNumber, OverflowGivesInfinityNotGarbage) {
  EXPECT_EQ(leading_number("1e400"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(leading_number("-1e400"), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(leading_number("1e99999999999999999999"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(leading_number("0.000e99999"), 0.0);
  EXPECT_EQ(leading_number(std::string(400, '9')), std::numeric_limits<double>::infinity());
}

TEST(LeadingNumber, NegativeZeroIsZero) {
  double z = leading_number("-0");
  EXPECT_EQ(z, 0.0);
  EXPECT_EQ(number_text(z), " 0");
  EXPECT_EQ(zero_padded(z, 4), "0000");
}

struct TextCase {
  double value;
  const char* text;
};

TEST(NumberText, WritesTheWayTheWindowShowsNumbers) {
  const TextCase cases[] = {
      {100, " 100"},
      {433.92, " 433.92"},
      {0.5, " .5"},
      {-2.5, "-2.5"},
      {0, " 0"},
      {-0.0, " 0"},
      {1100000000, " 1100000000"},
      {5000000000, " 5000000000"},
      {9999, " 9999"},
      {0.0125, " .0125"},
      {0.0001, " .0001"},
      {0.00001, " 1E-05"},
      {-0.000123, "-.000123"},
      {0.0000123, " 1.23E-05"},
      {123456789012345, " 123456789012345"},
      {1e15, " 1E+15"},
      {1.5e20, " 1.5E+20"},
      {1e300, " 1E+300"},
      {0.1 + 0.2, " .3"},
      {1.0 / 3, " .333333333333333"},
      {2.0 / 3, " .666666666666667"},
      {12345678.123456789, " 12345678.1234568"},
      {999999999999999.9, " 1E+15"},
      {-800000, "-800000"},
  };
  for (const auto& c : cases) EXPECT_EQ(number_text(c.value), c.text) << c.value;
}

TEST(NumberText, ReadsBackToTheSameValueWithin15Digits) {
  const double largest = std::numeric_limits<double>::max();
  for (double x : {433.92, 0.5, 1e-7, 123.456e18, 5e9, 0.0125, 9.87654321e-3, largest, -largest,
                   std::nextafter(largest, 0.0), std::numeric_limits<double>::denorm_min()}) {
    double back = leading_number(number_text(x));
    EXPECT_NEAR(back, x, std::fabs(x) * 1e-14) << x;
  }
}

struct PaddedCase {
  double value;
  int width;
  const char* text;
};

TEST(ZeroPadded, RoundsHalfAwayFromZeroAndNeverCuts) {
  const PaddedCase cases[] = {
      {12.5, 1, "13"},
      {0.5, 1, "1"},
      {-2.5, 1, "-3"},
      {0.49, 3, "000"},
      {-0.4, 4, "0000"},
      {100000000, 10, "0100000000"},
      {100000005, 10, "0100000005"},
      {29502.95, 8, "00029503"},
      {12.5, 8, "00000013"},
      {-80000, 8, "-00080000"},
      {500, 4, "0500"},
      {9999, 4, "9999"},
      {15000000000, 10, "15000000000"},
      {10000000, 7, "10000000"},
      {0, 7, "0000000"},
      {433920000.00000006, 10, "0433920000"},
      {1e20, 4, "100000000000000000000"},
      {7, 0, "7"},
  };
  for (const auto& c : cases) EXPECT_EQ(zero_padded(c.value, c.width), c.text) << c.value;
}

TEST(TextTests, ContainmentIsCaseSensitiveAndRemovalIsOnePass) {
  EXPECT_TRUE(contains("RF 100MHz", "RF"));
  EXPECT_FALSE(contains("rf 100MHz", "RF"));
  EXPECT_FALSE(contains("R F100MHz", "RF"));
  EXPECT_TRUE(contains("xxR", "R"));
  EXPECT_EQ(remove_all("RF 1 000.000 000MHz", " "), "RF1000.000000MHz");
  EXPECT_EQ(remove_all("RFRF5RF", "RF"), "5");
  // One pass: what the removal joins is not removed again.
  EXPECT_EQ(remove_all("RRFF", "RF"), "RF");
  EXPECT_EQ(remove_all("MODMOD5", "MOD"), "5");
  EXPECT_EQ(remove_all("abc", ""), "abc");
  EXPECT_EQ(remove_all("", "x"), "");
}

}  // namespace
}  // namespace talmir880
