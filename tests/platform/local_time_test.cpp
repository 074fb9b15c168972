#include "platform/local_time.hpp"

#include <gtest/gtest.h>

#include <regex>

namespace talmir880::platform {
namespace {

TEST(LocalTime, AStampIsItsDateTimeAndUtcOffset) {
  const std::string stamp = local_time_stamp();
  EXPECT_TRUE(std::regex_match(stamp, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d{4})")))
      << stamp;
}

}  // namespace
}  // namespace talmir880::platform
