// A device that does not answer, a port that is missing or fails: the error
// and why, the setting back as the device holds it, and the port opened again
// by a later command.
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "scpi/instrument_fixture.hpp"

namespace talmir880::testing {
namespace {

using DeviceFaults = InstrumentTest;
using Lines = std::vector<std::string>;

const std::string kNoAcknowledge = "-240,\"Hardware error;no acknowledge\"";
const std::string kBusy = "-241,\"Hardware missing;port busy\"";
const std::string kNoPort = "-241,\"Hardware missing;no such port\"";
const std::string kGone = "-241,\"Hardware missing;device gone\"";
const std::string kLinkLost = "-241,\"Hardware missing;network link lost\"";

TEST_F(DeviceFaults, TheFirstCommandOpensThePortAndOnlyAnRAcknowledges) {
  EXPECT_FALSE(port.open);
  instrument.submit(1, "POW -6;POW?");
  EXPECT_TRUE(port.open);
  EXPECT_EQ(port.written, Lines{"$P2"});
  port.receive("*r*");
  EXPECT_TRUE(watchdog.running()) << "a lower-case r is no acknowledgement";
  EXPECT_TRUE(answers.empty());
  port.receive("R*");
  EXPECT_FALSE(watchdog.running());
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].second, "-6");
}

TEST_F(DeviceFaults, NoAcknowledgementIsAHardwareErrorAndTheValueIsNotTaken) {
  instrument.submit(1, "POW -9;POW?");
  instrument.submit(2, "OUTP ON");
  EXPECT_EQ(port.written, Lines{"$P1"}) << "the next command waits for the answer";
  watchdog.run_out();
  EXPECT_EQ(answers.at(0).second, "-3");
  EXPECT_EQ(port.written, Lines{"$P1"}) << "its late reply may still come";
  watchdog.run_out();
  EXPECT_EQ(port.written.back(), "$F010000000") << "then the next command goes";
  acknowledge_all();
  EXPECT_EQ(errors(), Lines{kNoAcknowledge});
  EXPECT_EQ(run("POW?;:OUTP?;:STAT:QUES?;QUES:COND?"), "-3;1;512;0")
      << "not answering, latched until read; answering again since";
}

// A device always late: each command gets -240, and the R that comes after
// its command was given up counts for that one, never for the next; the
// queries answer what it took.
TEST_F(DeviceFaults, ALateReplyCountsForItsOwnCommandNeverForTheNext) {
  instrument.submit(1, "POW -9");
  instrument.submit(2, "POW -6");
  for (int i = 0; i < 2; ++i) {
    watchdog.run_out();
    EXPECT_EQ(port.written.size(), i + 1u) << "nothing is written while a reply may still come";
    port.receive("R");
  }
  EXPECT_EQ(port.written, (Lines{"$P1", "$P2"}));
  EXPECT_FALSE(watchdog.running());
  EXPECT_EQ(run("POW?", 3), "-6");
  EXPECT_EQ(errors(1), Lines{kNoAcknowledge});
  EXPECT_EQ(errors(2), Lines{kNoAcknowledge});
  instrument.submit(1, "OUTP ON");
  watchdog.run_out();
  watchdog.run_out();  // no late R either
  EXPECT_EQ(run("OUTP?", 3), "0") << "not taken";
}

// A switch-on the device did not take leaves nothing switched on behind it;
// a switch-off it did not take counts as done, so nothing switches the output
// on again unasked.
TEST_F(DeviceFaults, NoUnacknowledgedSwitchLeavesTheOutputOnUnasked) {
  instrument.submit(1, "OUTP ON");
  instrument.submit(2, "FREQ 200 MHZ;:OUTP:MOD ON;:LFO:FREQ 2 KHZ");
  watchdog.run_out();  // OUTP ON is not taken
  watchdog.run_out();  // nor does a late R come
  acknowledge_all();
  EXPECT_EQ(port.written, (Lines{"$F010000000", "$M0001000", "$M0002000"}))
      << "the frequency queued behind it is kept, not sent";
  EXPECT_EQ(run("OUTP?;:FREQ?"), "0;200000000");

  run("OUTP:MOD OFF");
  EXPECT_EQ(port.written.back(), "$M0000000");
  instrument.submit(1, "OUTP OFF");
  watchdog.run_out();  // nor is this OUTP OFF: the output may well be off
  watchdog.run_out();
  EXPECT_EQ(run("OUTP?;:OUTP:MOD?"), "0;0");
  const std::size_t before = port.written.size();
  run("FREQ 300 MHZ;:LFO:FREQ 3 KHZ");
  EXPECT_EQ(port.written.size(), before) << "kept until a command says ON";
  EXPECT_EQ(errors(), Lines(2, kNoAcknowledge));
}

// Each fault in turn: the command fails with -241 and why, nothing is
// taken, the port ends up closed, and a later command opens it and goes
// through.
struct FaultCase {
  const char* name;
  std::function<void(FakeSerialPort&)> fault;   // before the command
  std::function<void(FakeSerialPort&)> during;  // while it waits for its answer
  std::string error;
};

TEST_F(DeviceFaults, APortThatIsMissingOrFailsSaysWhyAndOpensAgainLater) {
  const FaultCase cases[] = {
      {"busy", [](FakeSerialPort& p) { p.fail_open = true; }, nullptr, kBusy},
      {"absent",
       [](FakeSerialPort& p) {
         p.fail_open = true;
         p.open_cause = PortError::Cause::missing;
       },
       nullptr, kNoPort},
      {"write fails", [](FakeSerialPort& p) { p.fail_write = true; }, nullptr, kGone},
      {"read fails", nullptr,
       [](FakeSerialPort& p) {
         p.fail_read = true;
         p.receive("x");
       },
       kGone},
      {"connection refused",
       [](FakeSerialPort& p) {
         p.fail_open = true;
         p.open_cause = PortError::Cause::network;
       },
       nullptr, kLinkLost},
      {"write over a dropped link",
       [](FakeSerialPort& p) {
         p.fail_write = true;
         p.lost_cause = PortError::Cause::network;
       },
       nullptr, kLinkLost},
      {"link drops while waiting", nullptr,
       [](FakeSerialPort& p) {
         p.fail_read = true;
         p.lost_cause = PortError::Cause::network;
         p.receive("x");
       },
       kLinkLost},
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
    port.open_cause = PortError::Cause::busy;
    port.lost_cause = PortError::Cause::gone;
    reopen.run_out();
    const int opened = port.open_calls;
    EXPECT_EQ(run("POW -6;POW?"), "-6") << c.name;
    EXPECT_TRUE(port.open) << c.name;
    EXPECT_GT(port.open_calls, opened) << c.name;
    EXPECT_EQ(errors(), Lines{c.error}) << c.name;
    EXPECT_EQ(run("POW -3"), "");
  }
}

// The device cannot be asked what it holds after it went away: when it is
// back, the output and the modulation count as off, as at start, and what
// failed while it was away is what the device last took.
TEST_F(DeviceFaults, ADeviceThatComesBackCountsItsOutputAndModulationOff) {
  switch_on();
  run("FREQ 200 MHZ;:LFO:FREQ 2 KHZ");
  port.fail_read = true;
  port.receive("x");  // gone
  port.fail_read = false;
  port.fail_open = true;
  port.open_cause = PortError::Cause::missing;
  run("FREQ 300 MHZ");
  EXPECT_EQ(run("FREQ?;:OUTP?"), "200000000;1") << "not taken: still what the device holds";
  port.fail_open = false;
  reopen.run_out();
  const std::size_t before = port.written.size();
  run("FREQ 400 MHZ;:LFO:FREQ 3 KHZ");  // the port opens: the device is back
  EXPECT_EQ(written_since(before), Lines{}) << "kept until a command says ON";
  EXPECT_EQ(run("OUTP?;:OUTP:MOD?;:FREQ?"), "0;0;400000000");
  run("OUTP ON");
  EXPECT_EQ(port.written.back(), "$F040000000");
  EXPECT_EQ(errors(), (Lines{kGone, kNoPort}));
}

TEST_F(DeviceFaults, APortLostWhileIdleIsReportedWithItsCauseAndClosed) {
  const std::pair<PortError::Cause, std::string> cases[] = {
      {PortError::Cause::gone, kGone},
      {PortError::Cause::network, kLinkLost},
  };
  for (const auto& [lost_cause, error] : cases) {
    reopen.run_out();
    run("POW -6");
    port.fail_read = true;
    port.lost_cause = lost_cause;
    port.receive("x");
    port.fail_read = false;
    EXPECT_FALSE(port.open) << error;
    EXPECT_EQ(errors(), Lines{error});
  }
}

TEST_F(DeviceFaults, AnAbsentPortIsTriedAtMostOncePerPause) {
  port.fail_open = true;
  port.open_cause = PortError::Cause::missing;
  run("OUTP ON;POW -6;*RST");
  EXPECT_EQ(port.open_attempts, 1) << "one try, then the pause";
  EXPECT_TRUE(reopen.running());
  EXPECT_EQ(errors(), Lines(5, kNoPort));
  EXPECT_EQ(run("FREQ?;:OUTP?;:POW?;:OUTP:MOD?"), "100000000;0;-3;0") << "nothing was taken";

  port.fail_open = false;
  EXPECT_EQ(run("POW -9;*TST?"), "1") << "still the pause";
  reopen.run_out();
  EXPECT_EQ(run("*TST?;POW -9;POW?"), "0;-9");
  EXPECT_EQ(errors(), (Lines{kNoPort, kNoPort}));
}

TEST_F(DeviceFaults, SelfTestTellsWhetherThePortOpensAndWhyNot) {
  port.fail_open = true;
  EXPECT_EQ(run("*TST?"), "1");
  EXPECT_EQ(errors(), Lines{kBusy});
  reopen.run_out();
  port.fail_open = false;
  EXPECT_EQ(run("*TST?"), "0");
  EXPECT_TRUE(port.open);
  EXPECT_TRUE(port.written.empty()) << "nothing is sent to the device";
}

}  // namespace
}  // namespace talmir880::testing
