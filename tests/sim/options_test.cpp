#include "options.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace talmir880::sim {
namespace {

std::string joined(const std::vector<std::string>& args) {
  std::string out;
  for (const std::string& a : args) out += (out.empty() ? "" : " ") + a;
  return out;
}

TEST(Options, Defaults) {
  const ParsedOptions parsed = parse_options({});
  ASSERT_TRUE(parsed.options.has_value());
  const Options& o = *parsed.options;
  EXPECT_EQ(o.port, 9);
  EXPECT_EQ(o.pacer.baud, 57600);
  EXPECT_EQ(o.pacer.dwell_ms, 0);
  EXPECT_EQ(o.pacer.latency_ms, 0);
  EXPECT_FALSE(o.pacer.silent);
  EXPECT_FALSE(o.pacer.lowercase);
  EXPECT_FALSE(o.pacer.split_ack_ms.has_value());
  EXPECT_EQ(o.pacer.noise_per_second, 0);
  EXPECT_FALSE(o.vanish_after.has_value());
  EXPECT_FALSE(o.quiet);
  EXPECT_FALSE(o.help);
}

struct Accepted {
  std::vector<std::string> args;
  std::function<bool(const Options&)> holds;
};

void PrintTo(const Accepted& c, std::ostream* os) { *os << joined(c.args); }

class OptionsAccepted : public ::testing::TestWithParam<Accepted> {};

TEST_P(OptionsAccepted, SetsTheField) {
  const ParsedOptions parsed = parse_options(GetParam().args);
  ASSERT_TRUE(parsed.options.has_value()) << parsed.error;
  EXPECT_TRUE(GetParam().holds(*parsed.options));
}

INSTANTIATE_TEST_SUITE_P(
    Flags, OptionsAccepted,
    ::testing::Values(
        Accepted{{"--port", "3"}, [](const Options& o) { return o.port == 3; }},
        Accepted{{"--port=10"}, [](const Options& o) { return o.port == 10; }},
        Accepted{{"--port", "1"}, [](const Options& o) { return o.port == 1; }},
        Accepted{{"--baud", "0"}, [](const Options& o) { return o.pacer.baud == 0; }},
        Accepted{{"--baud", "9600"}, [](const Options& o) { return o.pacer.baud == 9600; }},
        Accepted{{"--dwell-ms", "25"}, [](const Options& o) { return o.pacer.dwell_ms == 25; }},
        Accepted{{"--latency-ms", "16"}, [](const Options& o) { return o.pacer.latency_ms == 16; }},
        Accepted{{"--silent"}, [](const Options& o) { return o.pacer.silent; }},
        Accepted{{"--lowercase"}, [](const Options& o) { return o.pacer.lowercase; }},
        Accepted{{"--split-ack", "20"},
                 [](const Options& o) { return o.pacer.split_ack_ms == 20; }},
        Accepted{{"--split-ack=0"}, [](const Options& o) { return o.pacer.split_ack_ms == 0; }},
        Accepted{{"--noise", "2.5"},
                 [](const Options& o) { return o.pacer.noise_per_second == 2.5; }},
        Accepted{{"--vanish-after", "1"}, [](const Options& o) { return o.vanish_after == 1; }},
        Accepted{{"--quiet"}, [](const Options& o) { return o.quiet; }},
        Accepted{{"--help"}, [](const Options& o) { return o.help; }},
        Accepted{{"-h"}, [](const Options& o) { return o.help; }},
        Accepted{{"--port", "4", "--baud", "0", "--lowercase"}, [](const Options& o) {
                   return o.port == 4 && o.pacer.baud == 0 && o.pacer.lowercase;
                 }}));

struct Refused {
  std::vector<std::string> args;
  const char* error_mentions;
};

void PrintTo(const Refused& c, std::ostream* os) { *os << joined(c.args); }

class OptionsRefused : public ::testing::TestWithParam<Refused> {};

TEST_P(OptionsRefused, SaysWhy) {
  const ParsedOptions parsed = parse_options(GetParam().args);
  EXPECT_FALSE(parsed.options.has_value());
  EXPECT_NE(parsed.error.find(GetParam().error_mentions), std::string::npos) << parsed.error;
}

INSTANTIATE_TEST_SUITE_P(
    Flags, OptionsRefused,
    ::testing::Values(Refused{{"--port", "0"}, "1..10"}, Refused{{"--port", "11"}, "1..10"},
                      Refused{{"--port", "x"}, "--port"}, Refused{{"--port", "9x"}, "--port"},
                      Refused{{"--port"}, "needs a value"}, Refused{{"--baud", "-1"}, "--baud"},
                      Refused{{"--dwell-ms", ""}, "--dwell-ms"},
                      Refused{{"--latency-ms", "1001"}, "0..1000"},
                      Refused{{"--noise", "nan"}, "--noise"}, Refused{{"--noise", "-3"}, "--noise"},
                      Refused{{"--vanish-after", "0"}, "--vanish-after"},
                      Refused{{"--silent=1"}, "takes no value"},
                      Refused{{"--frobnicate"}, "unknown option --frobnicate"},
                      Refused{{"9"}, "unknown option 9"}));

TEST(Options, UsageExplainsEveryFlag) {
  const std::string text = usage();
  for (const char* flag :
       {"--port", "--baud", "--dwell-ms", "--latency-ms", "--silent", "--lowercase", "--split-ack",
        "--noise", "--vanish-after", "--quiet", "--help"}) {
    EXPECT_NE(text.find(flag), std::string::npos) << flag;
  }
}

}  // namespace
}  // namespace talmir880::sim
