// Each client its own error queue and status registers: a command's errors
// go to its sender, events of the device to every client.
#include <string>
#include <vector>

#include "scpi/instrument_fixture.hpp"

namespace talmir880::testing {
namespace {

using ClientStatus = InstrumentTest;
using Lines = std::vector<std::string>;

const std::string kOutOfRange = "-222,\"Data out of range\"";
const std::string kNoAcknowledge = "-240,\"Hardware error;no acknowledge\"";
const std::string kGone = "-241,\"Hardware missing;device gone\"";
const std::string kStalled = "-240,\"Hardware error;sweep stalled\"";

// Whatever the error, it reaches its sender's queue and no other.
TEST_F(ClientStatus, ACommandsErrorGoesToItsSenderOnly) {
  struct Case {
    const char* line;
    std::string error;
  };
  const Case cases[] = {
      {"FREQ 5", kOutOfRange},
      {"NO:SUCH", "-113,\"Undefined header\""},
      {"INIT", "-221,\"Settings conflict;output off\""},
  };
  for (const Case& c : cases) {
    run(c.line, 2);
    EXPECT_EQ(run("SYST:ERR:COUN?;:SYST:ERR?", 1), "0;0,\"No error\"") << c.line;
    EXPECT_EQ(errors(3), Lines{}) << c.line;
    EXPECT_EQ(errors(2), Lines{c.error}) << c.line;
  }
  EXPECT_FALSE(instrument.error_seen(1));
  EXPECT_TRUE(instrument.error_seen(2));
  EXPECT_EQ(instrument.take_errors(2), Lines{});
  run("FREQ 5", 4);
  EXPECT_EQ(instrument.take_errors(4), Lines{kOutOfRange});
}

TEST_F(ClientStatus, EventStatusEnablesAndClearsAreEachClientsOwn) {
  run("*ESE 16;*SRE 32", 1);
  run("FREQ 5", 1);
  run("FREQ 5;*OPC", 2);
  EXPECT_EQ(run("*ESR?;*ESE?;*SRE?", 3), "0;0;0");
  EXPECT_EQ(run("*ESR?", 2), "17") << "EXE and its own *OPC";
  EXPECT_EQ(run("*STB?", 1), "100") << "not cleared by client 2's read";
  EXPECT_EQ(instrument.status_byte(2), 4) << "EAV only: nothing enabled";
  run("*CLS", 2);
  EXPECT_EQ(errors(2), Lines{});
  EXPECT_EQ(run("*ESR?", 1), "16");
  EXPECT_EQ(errors(1), Lines{kOutOfRange}) << "not cleared by client 2's *CLS";
}

TEST_F(ClientStatus, TheDevicesRefusalGoesToTheSenderAndItsConditionToAll) {
  switch_on();
  submit(2, "POW -6");
  submit(3, "POW -9");
  watchdog.run_out();  // client 2's command is not taken
  acknowledge_all();
  EXPECT_EQ(errors(2), Lines{kNoAcknowledge});
  EXPECT_EQ(errors(1), Lines{});
  EXPECT_EQ(errors(3), Lines{});
  // Not answering is the device's: latched for every client, read by each.
  EXPECT_EQ(run("STAT:QUES?;QUES?;QUES:COND?", 1), "512;0;0");
  EXPECT_EQ(run("STAT:QUES?", 3), "512") << "not cleared by client 1's read";

  // A client that has gone takes its errors with it.
  submit(4, "POW -3");
  instrument.detach(4);
  watchdog.run_out();
  for (ClientId id = 1; id <= 3; ++id) EXPECT_EQ(errors(id), Lines{}) << id;
}

TEST_F(ClientStatus, APortLostWhileIdleReachesEveryClient) {
  run("POW -6");
  run("*ESE 16;*SRE 32", 3);
  port.fail_read = true;
  port.receive("x");
  EXPECT_EQ(instrument.status_byte(3), 100);
  for (ClientId id = 1; id <= 4; ++id) EXPECT_EQ(errors(id), Lines{kGone}) << id;
}

TEST_F(ClientStatus, APassReportsItsFaultToItsOwnerAndItsRunToAll) {
  run("OUTP ON;:FREQ:MODE SWE;:SWE:POIN 5");
  run("STAT:OPER?", 2);
  run("INIT:CONT ON", 2);
  EXPECT_EQ(run("STAT:OPER:COND?", 1), "8");
  report_points(5);  // one pass; the next runs for client 2 as well
  stall.run_out();
  EXPECT_EQ(errors(2), Lines{kStalled});
  EXPECT_EQ(errors(1), Lines{});
  EXPECT_EQ(run("STAT:OPER?;OPER?", 1), "8;0") << "the pass's start, latched for each";
  EXPECT_EQ(run("STAT:OPER?", 2), "8");
}

}  // namespace
}  // namespace talmir880::testing
