// A device that does not answer, a port that is missing or fails: the error,
// the setting kept as it was, and the port opened again by the next command.
#include <functional>
#include <string>
#include <vector>

#include "scpi/instrument_fixture.hpp"

namespace talmir880::testing {
namespace {

using DeviceFaults = InstrumentTest;
using Lines = std::vector<std::string>;

const std::string kNoAcknowledge = "-240,\"Hardware error;no acknowledge\"";
const std::string kMissing = "-241,\"Hardware missing\"";

TEST_F(DeviceFaults, TheFirstCommandOpensThePortAndOnlyAnRAcknowledges) {
  EXPECT_FALSE(port.open);
  instrument.submit(1, "FREQ 200 MHZ;FREQ?");
  EXPECT_TRUE(port.open);
  EXPECT_EQ(port.written, Lines{"$F020000000"});
  port.receive("*r*");
  EXPECT_TRUE(watchdog.running()) << "a lower-case r is no acknowledgement";
  EXPECT_TRUE(answers.empty());
  port.receive("R*");
  EXPECT_FALSE(watchdog.running());
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].second, "200000000");
}

TEST_F(DeviceFaults, NoAcknowledgementIsAHardwareErrorAndTheValueIsNotTaken) {
  instrument.submit(1, "FREQ 200 MHZ;FREQ?");
  instrument.submit(2, "POW -6");
  EXPECT_EQ(port.written, Lines{"$F020000000"}) << "the next command waits for the answer";
  watchdog.run_out();
  EXPECT_EQ(answers.at(0).second, "100000000");
  EXPECT_EQ(port.written.back(), "$P2") << "then the next command goes";
  acknowledge_all();
  EXPECT_EQ(errors(), Lines{kNoAcknowledge});
  EXPECT_EQ(run("POW?"), "-6");
}

// Each fault in turn: the command fails with -241, nothing is taken, the
// port ends up closed, and the next command opens it and goes through.
struct FaultCase {
  const char* name;
  std::function<void(FakeSerialPort&)> fault;   // before the command
  std::function<void(FakeSerialPort&)> during;  // while it waits for its answer
};

TEST_F(DeviceFaults, APortThatIsMissingOrFailsIsHardwareMissingAndOpensAgainLater) {
  const FaultCase cases[] = {
      {"absent", [](FakeSerialPort& p) { p.fail_open = true; }, nullptr},
      {"write fails", [](FakeSerialPort& p) { p.fail_write = true; }, nullptr},
      {"read fails", nullptr,
       [](FakeSerialPort& p) {
         p.fail_read = true;
         p.receive("x");
       }},
  };
  for (const auto& c : cases) {
    run("POW -3");  // the port is open
    ASSERT_TRUE(port.open) << c.name;
    port.open = !c.fault;  // an absent port starts closed
    if (c.fault) c.fault(port);
    instrument.submit(1, "POW -6;POW?");
    if (c.during) c.during(port);
    EXPECT_FALSE(watchdog.running()) << c.name;
    EXPECT_EQ(answers.back().second, "-3") << c.name;
    EXPECT_FALSE(port.open) << c.name;

    port.fail_open = port.fail_write = port.fail_read = false;
    const int opened = port.open_calls;
    EXPECT_EQ(run("POW -6;POW?"), "-6") << c.name;
    EXPECT_TRUE(port.open) << c.name;
    EXPECT_GT(port.open_calls, opened) << c.name;
    EXPECT_EQ(errors(), Lines{kMissing}) << c.name;
    EXPECT_EQ(run("POW -3"), "");
  }
}

TEST_F(DeviceFaults, APortLostWhileIdleIsReportedAndClosed) {
  run("POW -6");
  port.fail_read = true;
  port.receive("x");
  EXPECT_FALSE(port.open);
  EXPECT_EQ(errors(), Lines{kMissing});
}

TEST_F(DeviceFaults, EveryCommandOfALineTriesTheDeviceAgain) {
  port.fail_open = true;
  run("FREQ 200 MHZ;POW -6;*RST;FREQ?");
  EXPECT_TRUE(port.written.empty());
  EXPECT_EQ(errors(), (Lines{kMissing, kMissing, kMissing}));
  EXPECT_EQ(run("FREQ?;:OUTP?"), "100000000;1") << "*RST took nothing either";
}

}  // namespace
}  // namespace talmir880::testing
