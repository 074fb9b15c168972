// Sweep passes in the background: their end, repetition, ABORt, settings
// that arrive during a pass, and a device that stops reporting.
#include <string>
#include <vector>

#include "scpi/instrument_fixture.hpp"

namespace talmir880::testing {
namespace {

using Lines = std::vector<std::string>;

const std::string kPass = "$W010000000100000000005";  // 100 to 500 MHz in 5 points

class Sweeps : public InstrumentTest {
 protected:
  // A pass is RF on: the output first.
  Sweeps() {
    run("OUTP ON;:FREQ:MODE SWE;:SWE:POIN 5");
    port.written.clear();
  }
  std::string answer_of(ClientId client) const {
    for (auto it = answers.rbegin(); it != answers.rend(); ++it) {
      if (it->first == client) return it->second;
    }
    return "";
  }
};

TEST_F(Sweeps, APassEndsWhenEveryPointCameAndTheLineWentQuiet) {
  run("INIT");
  EXPECT_EQ(port.written, Lines{kPass});
  EXPECT_FALSE(watchdog.running()) << "a sweep is not acknowledged";
  EXPECT_EQ(run("STAT:OPER:COND?"), "8") << "sweeping";
  submit(2, "*OPC?");
  submit(3, "FREQ:STAR?");
  EXPECT_EQ(answer_of(3), "100000000") << "a query waits for no pass";
  port.receive(std::string(19, '.'));
  EXPECT_FALSE(quiet.running()) << "one character short";
  port.receive(".");
  EXPECT_TRUE(answer_of(2).empty()) << "more may still come";
  port.receive(".");  // noise, or a report that noise pushed ahead
  EXPECT_EQ(quiet.starts, 2);
  quiet.run_out();
  EXPECT_EQ(answer_of(2), "1");
  EXPECT_FALSE(stall.running());
  EXPECT_TRUE(instrument.idle());
  EXPECT_EQ(run("STAT:OPER:COND?;:STAT:OPER?"), "0;8");
}

TEST_F(Sweeps, ALineThatNeverGoesQuietStillEndsThePass) {
  run("INIT");
  submit(2, "*OPC?");
  port.receive(std::string(20, '.'));
  // 20 expected characters: up to 20 more put the end off.
  for (int i = 0; i < 20; ++i) port.receive("~");
  EXPECT_EQ(quiet.starts, 21);
  for (int i = 0; i < 50; ++i) port.receive("~");
  EXPECT_EQ(quiet.starts, 21) << "noise without end no longer does";
  quiet.run_out();
  EXPECT_EQ(answer_of(2), "1");
}

TEST_F(Sweeps, SettingsDuringAPassAreAnsweredAtOnceAndSentAfterIt) {
  run("OUTP ON;:INIT");
  submit(2, "POW -6;POW?;:OUTP:MOD ON;:OUTP:MOD?");
  submit(3, "SWE:POIN?");
  EXPECT_EQ(answer_of(2), "-6;1") << "the programmed values";
  EXPECT_EQ(answer_of(3), "5");
  EXPECT_EQ(port.written, (Lines{"$F010000000", kPass}));
  submit(3, "*OPC?");
  report_points(5);
  EXPECT_EQ(port.written.back(), "$P2");
  EXPECT_TRUE(answer_of(3) == "5") << "*OPC? waits for what was queued";
  port.receive("R");
  watchdog.run_out();  // the device does not take "OUTP:MOD ON"
  EXPECT_EQ(answer_of(3), "1");
  EXPECT_EQ(run("POW?;:OUTP:MOD?;:STAT:QUES:COND?"), "-6;1;1536")
      << "back to what the device holds: a modulation that may be on";
  EXPECT_EQ(errors(2), Lines{"-240,\"Hardware error;no acknowledge\""}) << "its sender's";
}

TEST_F(Sweeps, ContinuousPassesLetWaitingCommandsGoFirstAndTakeNewFieldsEachPass) {
  run("INIT:CONT ON");
  report_points(5);
  EXPECT_EQ(port.written, (Lines{kPass, kPass}));
  submit(2, "FREQ:STAR 200 MHZ;:POW -6;*OPC?");
  report_points(5);
  EXPECT_EQ(port.written.back(), "$P2") << "the waiting line before the next pass";
  acknowledge_all();
  EXPECT_EQ(answer_of(2), "1");
  EXPECT_EQ(port.written.back(), "$W020000000075000000005");
  EXPECT_EQ(run("INIT"), "");
  EXPECT_EQ(errors(), Lines{"-213,\"Init ignored\""});
}

TEST_F(Sweeps, AbortStopsRepeatingAndTheDeviceFinishesItsPass) {
  run("INIT:CONT ON");
  EXPECT_EQ(run("ABOR;:INIT:CONT?"), "0");
  submit(2, "POW -6");
  report_points(3);
  EXPECT_EQ(port.written, Lines{kPass}) << "its reports are not a reply";
  report_points(2);
  EXPECT_EQ(port.written, (Lines{kPass, "$P2"}));
  acknowledge_all();
  report_points(5);
  EXPECT_EQ(port.written.size(), 2u) << "no further pass";
  EXPECT_EQ(errors(), Lines{});
}

// Passes are RF on: switching the output off ends the repetition at once in
// the queries, and the RF goes off as soon as the running pass is over.
TEST_F(Sweeps, OutputOffEndsRepeatedPassesAndModulationOffWaitsForTheRunningOne) {
  run("OUTP:MOD ON;:INIT:CONT ON");
  submit(2, "OUTP:MOD OFF");
  report_points(5);
  acknowledge_all();
  EXPECT_EQ(port.written, (Lines{"$M0001000", kPass, "$M0000000", kPass}))
      << "the modulation goes off between passes, which go on";
  submit(2, "OUTP OFF");
  EXPECT_EQ(run("OUTP?;:INIT:CONT?", 3), "0;0");
  report_points(5);
  acknowledge_all();
  report_points(5);
  EXPECT_EQ(written_since(4), Lines{"$F000000001"}) << "no pass after the switch-off";
  EXPECT_EQ(run("STAT:OPER:COND?", 3), "0");
}

struct StopCase {
  const char* during_pass;
  Lines errors;
  std::size_t written;
};

TEST_F(Sweeps, AContinuousSweepEndsWhenItsSettingsNoLongerMakeOne) {
  const StopCase cases[] = {
      {"INIT:CONT OFF", {}, 0},
      {"FREQ:MODE CW", {}, 1},  // the CW frequency again, the output being on
      {"FREQ:STOP 50 MHZ", {"-221,\"Settings conflict\""}, 0},
      {"*RST", {}, 3},
  };
  for (const auto& c : cases) {
    run("FREQ:MODE SWE;STAR 100 MHZ;STOP 500 MHZ;:SWE:POIN 5;:INIT:CONT ON");
    const std::size_t before = port.written.size();
    submit(1, c.during_pass);
    report_points(5);
    acknowledge_all();
    report_points(5);
    EXPECT_EQ(errors(), c.errors) << c.during_pass;
    EXPECT_EQ(port.written.size() - before, c.written) << c.during_pass;
    EXPECT_EQ(run("INIT:CONT OFF"), "");
    run("OUTP ON");  // *RST switched it off
  }
}

TEST_F(Sweeps, AStepWiderThanItsEightDigitsIsRefusedAndNothingIsSent) {
  // 999 999 990 Hz a point: the widest step the field holds.
  run("FREQ:STAR 100 MHZ;STOP 4099999960 HZ;:INIT");
  EXPECT_EQ(port.written, Lines{"$W010000000999999990005"});
  report_points(5);
  run("FREQ:STOP 4099999980 HZ;:INIT");
  EXPECT_EQ(port.written.size(), 1u) << "the step rounds up to nine digits";
  run("FREQ:STAR 10 HZ;STOP 9 GHZ;:INIT");
  EXPECT_EQ(port.written.size(), 1u);
  EXPECT_EQ(errors(), (Lines{"-221,\"Settings conflict\"", "-221,\"Settings conflict\""}));
}

TEST_F(Sweeps, AContinuousSweepWhoseStepOutgrowsItsFieldEnds) {
  run("INIT:CONT ON");
  submit(2, "FREQ:STOP 9 GHZ");
  report_points(5);
  EXPECT_EQ(port.written, Lines{kPass}) << "no pass after it";
  EXPECT_EQ(errors(), Lines{"-221,\"Settings conflict\""});
  EXPECT_TRUE(instrument.idle());
}

TEST_F(Sweeps, ASilentDeviceEndsThePassWithAHardwareError) {
  run("INIT:CONT ON");
  submit(2, "*OPC?");
  report_points(2);
  EXPECT_EQ(stall.starts, 2) << "each report starts the stall time afresh";
  stall.run_out();
  EXPECT_EQ(answer_of(2), "1");
  EXPECT_EQ(port.written, Lines{kPass}) << "no pass after a stalled one";
  EXPECT_EQ(errors(), Lines{"-240,\"Hardware error;sweep stalled\""});
  EXPECT_EQ(run("INIT:CONT?;:STAT:QUES:COND?"), "0;512") << "the repetition ended";
  run("INIT");
  EXPECT_EQ(port.written.back(), kPass) << "a new INIT sweeps again";
}

TEST_F(Sweeps, APortLostDuringAPassEndsIt) {
  run("INIT;*OPC");
  port.fail_read = true;
  port.receive("....");
  EXPECT_FALSE(port.open);
  EXPECT_EQ(run("*ESR?"), "17") << "EXE, and OPC once the pass ended";
  EXPECT_EQ(errors(), Lines{"-241,\"Hardware missing;device gone\""});
}

TEST_F(Sweeps, OperationCompleteAndWaitFollowThePass) {
  EXPECT_EQ(run("INIT;*OPC;*ESR?"), "0");
  submit(2, "*WAI;FREQ:STAR?");
  EXPECT_TRUE(answer_of(2).empty());
  report_points(2);
  port.receive("R");  // a late reply: the reports before it still count
  report_points(3);
  EXPECT_EQ(answer_of(2), "100000000");
  EXPECT_EQ(run("*ESR?"), "1");
}

}  // namespace
}  // namespace talmir880::testing
