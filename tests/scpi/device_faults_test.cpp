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

// As the instrument starts: the port closed, nothing known of the device.
struct AtStart : InstrumentTest {
  AtStart() : InstrumentTest(false) {}
};

const std::string kNoAcknowledge = "-240,\"Hardware error;no acknowledge\"";
const std::string kBusy = "-241,\"Hardware missing;port busy\"";
const std::string kNoPort = "-241,\"Hardware missing;no such port\"";
const std::string kGone = "-241,\"Hardware missing;device gone\"";
const std::string kLinkLost = "-241,\"Hardware missing;network link lost\"";

// Nothing is known of a device the instrument has not reached: it may be
// on. The first device command opens the port and goes after the switch-off.
TEST_F(AtStart, TheFirstCommandOpensThePortAndGoesAfterTheSwitchOffOnlyAnRAcknowledges) {
  EXPECT_EQ(run("OUTP?;:OUTP:MOD?;:STAT:QUES:COND?"), "1;1;1024");
  EXPECT_FALSE(port.open);
  submit(1, "POW -6;POW?");
  EXPECT_TRUE(port.open);
  EXPECT_EQ(port.written, Lines{"$F000000001"});
  port.receive("*r*");
  EXPECT_TRUE(watchdog.running()) << "a lower-case r is no acknowledgement";
  port.receive("R*");
  EXPECT_EQ(port.written, (Lines{"$F000000001", "$M0000000"}));
  port.receive("R");
  EXPECT_EQ(port.written.back(), "$P2");
  EXPECT_TRUE(answers.size() == 1) << "the line waits for its own command";
  port.receive("R");
  EXPECT_FALSE(watchdog.running());
  EXPECT_EQ(answers.back().second, "-6");
  EXPECT_EQ(run("OUTP?;:OUTP:MOD?;:STAT:QUES:COND?"), "0;0;0");
}

// A server takes a generator over as an instrument powers up: switched off,
// by itself, as soon as the port opens, and tried again while it does not.
TEST_F(AtStart, SwitchedOffWhenReachedItWritesTheSwitchOffByItself) {
  struct Told : scpi::InstrumentEvents {
    void switching_off(OffBecause why) override { reasons.push_back(why); }
    std::vector<OffBecause> reasons;
  } told;
  instrument.observe(told);
  port.fail_open = true;
  instrument.switch_off_when_reached(true);
  EXPECT_EQ(port.open_attempts, 1);
  reopen.run_out();
  EXPECT_EQ(port.open_attempts, 2) << "once a pause";
  port.fail_open = false;
  reopen.run_out();
  EXPECT_EQ(port.written, Lines{"$F000000001"});
  acknowledge_all();
  EXPECT_EQ(port.written, (Lines{"$F000000001", "$M0000000"}));
  EXPECT_EQ(told.reasons, std::vector{OffBecause::reached}) << "told once";
  EXPECT_EQ(errors(), Lines{}) << "nobody asked";
  instrument.forget(told);
}

TEST_F(DeviceFaults, NoAcknowledgementIsAHardwareErrorAndTheValueIsNotTaken) {
  submit(1, "POW -9;POW?");
  submit(2, "OUTP ON");
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
  submit(1, "POW -9");
  submit(2, "POW -6");
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
  submit(1, "OUTP ON");
  watchdog.run_out();
  watchdog.run_out();  // no late R either
  EXPECT_EQ(run("OUTP?", 3), "1") << "not confirmed: the device may have taken it";
}

// A switch-on the device did not acknowledge may have been taken: the
// output counts as on, but nothing is built on it (a frequency queued
// behind it is kept, not sent) and it is never repeated by itself. A
// switch-off it did not acknowledge is written again, by itself, until an
// R comes.
TEST_F(DeviceFaults, ALostSwitchOnIsNotBuiltOnAndALostSwitchOffIsWrittenAgain) {
  submit(1, "OUTP ON");
  submit(2, "FREQ 200 MHZ;:OUTP:MOD ON;:LFO:FREQ 2 KHZ");
  watchdog.run_out();  // OUTP ON is not taken
  watchdog.run_out();  // nor does a late R come
  acknowledge_all();
  EXPECT_EQ(port.written, (Lines{"$F010000000", "$M0001000", "$M0002000"}))
      << "the frequency queued behind it is kept, not sent";
  EXPECT_EQ(run("OUTP?;:FREQ?;:STAT:QUES:COND?"), "1;200000000;1024");

  run("OUTP:MOD OFF");
  EXPECT_EQ(port.written.back(), "$M0000000");
  submit(1, "OUTP OFF");
  watchdog.run_out();
  submit(3, "OUTP?;:OUTP:MOD?");  // answered at once, no R given
  EXPECT_EQ(answers.back().second, "1;0") << "never off while it may be on";
  const std::size_t before = port.written.size();
  watchdog.run_out();  // no late R: written again
  EXPECT_EQ(written_since(before), Lines{"$F000000001"});
  watchdog.run_out();
  watchdog.run_out();
  EXPECT_EQ(written_since(before), (Lines{"$F000000001", "$F000000001"})) << "until an R comes";
  watchdog.run_out();
  port.receive("R");  // late, but for it alone
  EXPECT_EQ(run("OUTP?;:STAT:QUES:COND?"), "0;0");
  EXPECT_EQ(written_since(before), (Lines{"$F000000001", "$F000000001"}));
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
    submit(1, "POW -6;POW?");
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
// back, the output and the modulation may be on, and the switch-off goes
// ahead of the next command that writes; what failed while it was away is
// what the device last took.
TEST_F(DeviceFaults, ADeviceThatComesBackIsSwitchedOffBeforeAnythingElse) {
  switch_on();
  run("FREQ 200 MHZ;:LFO:FREQ 2 KHZ");
  port.fail_read = true;
  port.receive("x");  // gone
  port.fail_read = false;
  EXPECT_EQ(run("OUTP?;:OUTP:MOD?;:STAT:QUES:COND?"), "1;1;1536") << "not confirmed, not answering";
  port.fail_open = true;
  port.open_cause = PortError::Cause::missing;
  reopen.run_out();
  EXPECT_EQ(run("POW -9;POW?"), "-3") << "not taken: still what the device holds";
  EXPECT_EQ(run("FREQ 300 MHZ;:FREQ?"), "300000000")
      << "kept: nothing is built on an unsure output";
  port.fail_open = false;
  reopen.run_out();
  const std::size_t before = port.written.size();
  run("FREQ 400 MHZ;:LFO:FREQ 3 KHZ");
  EXPECT_EQ(written_since(before), Lines{}) << "kept: nothing to tell the device, nothing owed";
  EXPECT_EQ(run("OUTP?;:OUTP:MOD?;:FREQ?"), "1;1;400000000");
  run("OUTP ON");  // the port opens: the device is back, off first
  EXPECT_EQ(written_since(before), (Lines{"$F000000001", "$M0000000", "$F040000000"}));
  EXPECT_EQ(run("OUTP?;:OUTP:MOD?;:STAT:QUES:COND?"), "1;0;0");
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

TEST_F(AtStart, AnAbsentPortIsTriedAtMostOncePerPause) {
  port.fail_open = true;
  port.open_cause = PortError::Cause::missing;
  run("OUTP ON;POW -6;*RST");
  EXPECT_EQ(port.open_attempts, 1) << "one try, then the pause";
  EXPECT_TRUE(reopen.running());
  EXPECT_EQ(errors(), Lines(5, kNoPort));
  EXPECT_EQ(run("FREQ?;:OUTP?;:POW?;:OUTP:MOD?"), "100000000;1;-3;1") << "nothing was taken";

  port.fail_open = false;
  EXPECT_EQ(run("POW -9;*TST?"), "1") << "still the pause";
  reopen.run_out();
  EXPECT_EQ(run("*TST?;POW -9;POW?"), "0;-9");
  EXPECT_EQ(errors(), (Lines{kNoPort, kNoPort}));
}

TEST_F(AtStart, SelfTestTellsWhetherThePortOpensAndWhyNot) {
  port.fail_open = true;
  EXPECT_EQ(run("*TST?"), "1");
  EXPECT_EQ(errors(), Lines{kBusy});
  reopen.run_out();
  port.fail_open = false;
  EXPECT_EQ(run("*TST?"), "0");
  EXPECT_TRUE(port.open);
  EXPECT_TRUE(port.written.empty()) << "nothing is sent to the device";
}

// A pass the link cut off goes on in the device: back or not, nothing is
// written until it must have ended at the line's rate; then the switch-off,
// then what waited. No repetition goes on over it.
TEST_F(DeviceFaults, APassCutOffByTheLinkIsWaitedForBeforeAnythingIsWritten) {
  instrument.set_baud(1200);  // 120 characters a second
  switch_on();
  run("FREQ:MODE SWE;:SWE:POIN 100;:INIT:CONT ON");
  ASSERT_TRUE(port.written.back().starts_with("$W"));
  port.receive(std::string(4 * 20, '.'));  // 20 of 100 points
  port.fail_read = true;
  port.lost_cause = PortError::Cause::network;
  port.receive("x");
  port.fail_read = false;
  EXPECT_EQ(run("INIT:CONT?;:OUTP?;:STAT:QUES:COND?"), "0;1;1536");
  const std::size_t before = port.written.size();
  submit(1, "POW -6");
  reopen.run_out();
  reopen.run_out();  // 320 characters take 2.7 s
  EXPECT_EQ(written_since(before), Lines{}) << "the device still sweeps";
  reopen.run_out();
  acknowledge_all();
  EXPECT_EQ(written_since(before), (Lines{"$F000000001", "$M0000000", "$P2"}));
  EXPECT_EQ(run("OUTP?;:POW?"), "0;-6");
}

// A link that takes the connection and drops it at once (ser2net without
// its device) is tried once a pause, said once, and never called back.
TEST_F(AtStart, ALinkThatAcceptsAndClosesIsTriedOnceAPauseAndNeverCalledBack) {
  struct Told : scpi::InstrumentEvents {
    void reachability_changed(DeviceFault fault) override { faults.push_back(fault); }
    std::vector<DeviceFault> faults;
  } told;
  instrument.observe(told);
  port.lost_cause = PortError::Cause::network;
  const auto drop = [this] {
    port.fail_read = true;
    port.receive("");
    port.fail_read = false;
  };
  instrument.switch_off_when_reached(true);
  for (int i = 1; i <= 3; ++i) {
    ASSERT_TRUE(port.open) << i;
    drop();
    EXPECT_EQ(port.open_attempts, i);
    submit(1, "POW -6");  // within the pause: refused, not tried
    EXPECT_EQ(port.open_attempts, i);
    reopen.run_out();
  }
  EXPECT_EQ(told.faults, std::vector{DeviceFault::link_lost});
  EXPECT_EQ(port.written, (Lines{"$F000000001", "$M0000000", "$F000000001", "$M0000000"}))
      << "each output's in turn";
  EXPECT_EQ(errors(), Lines(3, kLinkLost)) << "the commands' own; the server's are nobody's";
  instrument.forget(told);
}

// ser2net without its device says so before it closes: its words are not
// the device's, which is back only once it answered.
TEST_F(AtStart, WhatTheLinkSaysOfItsDeviceIsNotTheDeviceBack) {
  struct Told : scpi::InstrumentEvents {
    void reachability_changed(DeviceFault fault) override { faults.push_back(fault); }
    std::vector<DeviceFault> faults;
  } told;
  instrument.observe(told);
  port.lost_cause = PortError::Cause::network;
  instrument.switch_off_when_reached(true);
  for (int i = 1; i <= 2; ++i) {
    ASSERT_TRUE(port.open) << i;
    port.receive("Device open failure: Value or file not found\r\n");
    port.fail_read = true;
    port.receive("");
    port.fail_read = false;
    reopen.run_out();
  }
  EXPECT_EQ(told.faults, std::vector{DeviceFault::link_lost});
  port.receive("R");
  EXPECT_EQ(told.faults, (std::vector{DeviceFault::link_lost, DeviceFault::none}));
  instrument.forget(told);
}

}  // namespace
}  // namespace talmir880::testing
