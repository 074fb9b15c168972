// The error queue and the IEEE 488.2 registers.
#include <gtest/gtest.h>

#include <string>

#include "generator/status.hpp"

namespace talmir880::scpi {
namespace {

struct ErrorCase {
  int code;
  const char* answer;
  int event_bit;
};

TEST(ScpiStatus, EachErrorHasItsTextAndSetsTheBitOfItsClass) {
  const ErrorCase cases[] = {
      {kCommandError, "-100,\"Command error\"", Status::kCme},
      {kSyntaxError, "-102,\"Syntax error\"", Status::kCme},
      {kDataTypeError, "-104,\"Data type error\"", Status::kCme},
      {kParameterNotAllowed, "-108,\"Parameter not allowed\"", Status::kCme},
      {kMissingParameter, "-109,\"Missing parameter\"", Status::kCme},
      {kUndefinedHeader, "-113,\"Undefined header\"", Status::kCme},
      {kInvalidSuffix, "-131,\"Invalid suffix\"", Status::kCme},
      {kInitIgnored, "-213,\"Init ignored\"", Status::kExe},
      {kSettingsConflict, "-221,\"Settings conflict\"", Status::kExe},
      {kDataOutOfRange, "-222,\"Data out of range\"", Status::kExe},
      {kIllegalParameterValue, "-224,\"Illegal parameter value\"", Status::kExe},
      {kHardwareError, "-240,\"Hardware error\"", Status::kExe},
      {kHardwareMissing, "-241,\"Hardware missing\"", Status::kExe},
      {kInputBufferOverrun, "-363,\"Input buffer overrun\"", Status::kDde},
  };
  for (const auto& c : cases) {
    Status status;
    status.report(c.code);
    EXPECT_EQ(status.event_status(), c.event_bit) << c.code;
    EXPECT_EQ(status.next_error(), c.answer);
    EXPECT_EQ(status.next_error(), "0,\"No error\"");
  }
  Status status;
  status.report(kHardwareError, "no acknowledge");
  EXPECT_EQ(status.next_error(), "-240,\"Hardware error;no acknowledge\"");
}

TEST(ScpiStatus, AFullQueueKeepsTheOldestAndEndsInQueueOverflow) {
  Status status;
  for (int i = 0; i < 40; ++i) status.report(i % 2 == 0 ? kSyntaxError : kDataOutOfRange);
  EXPECT_EQ(status.queued(), Status::kQueueSize);
  for (std::size_t i = 0; i + 1 < Status::kQueueSize; ++i) {
    EXPECT_EQ(status.next_error(),
              i % 2 == 0 ? "-102,\"Syntax error\"" : "-222,\"Data out of range\"");
  }
  EXPECT_EQ(status.next_error(), "-350,\"Queue overflow\"");
  EXPECT_EQ(status.next_error(), "0,\"No error\"");
  // The lost errors still count.
  EXPECT_EQ(status.event_status(), Status::kCme | Status::kExe);
  EXPECT_TRUE(status.any_error());
}

TEST(ScpiStatus, StatusByteSummarisesQueueMessageAndEnabledEvents) {
  Status status;
  EXPECT_EQ(status.status_byte(false), 0);
  EXPECT_EQ(status.status_byte(true), Status::kMav);
  status.report(kDataOutOfRange);
  EXPECT_EQ(status.status_byte(false), Status::kEav) << "EXE is not enabled";
  status.set_event_enable(Status::kExe);
  EXPECT_EQ(status.status_byte(false), Status::kEav | Status::kEsb);
  status.set_service_enable(0xff);
  EXPECT_EQ(status.service_enable(), 0xff & ~Status::kMss);
  EXPECT_EQ(status.status_byte(false), Status::kEav | Status::kEsb | Status::kMss);
  EXPECT_EQ(status.read_event_status(), Status::kExe);
  EXPECT_EQ(status.read_event_status(), 0);
  EXPECT_EQ(status.status_byte(false), Status::kEav | Status::kMss) << "the queue still holds one";
  status.clear();
  EXPECT_EQ(status.status_byte(false), 0);
  EXPECT_TRUE(status.any_error()) << "cleared, but it happened";
}

}  // namespace
}  // namespace talmir880::scpi
