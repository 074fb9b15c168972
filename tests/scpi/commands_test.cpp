// The command table: what the device receives, what queries answer, what is
// refused, with a device that acknowledges everything.
#include <algorithm>
#include <string>
#include <vector>

#include "scpi/instrument_fixture.hpp"

namespace talmir880::testing {
namespace {

using Commands = InstrumentTest;
using Lines = std::vector<std::string>;

struct BytesCase {
  const char* line;
  Lines written;
};

TEST_F(Commands, NothingIsSwitchedOnUntilACommandSaysSo) {
  const BytesCase cases[] = {
      {"FREQ 200 MHZ;:LFO:FREQ 400;:FREQ:MODE SWE;MODE CW", {}},
      {"OUTP:MOD ON", {"$M0000400"}},
      {"OUTP ON", {"$F020000000"}},
  };
  EXPECT_EQ(run("OUTP?;:OUTP:MOD?"), "0;0");
  for (const auto& c : cases) {
    const std::size_t before = port.written.size();
    run(c.line);
    EXPECT_EQ(written_since(before), c.written) << c.line;
  }
  EXPECT_EQ(errors(), Lines{});
}

TEST_F(Commands, EachCommandWritesTheDeviceBytesOfItsValue) {
  switch_on();
  const BytesCase cases[] = {
      {"FREQ 100 MHZ", {"$F010000000"}},
      {"freq 1e8", {"$F010000000"}},
      {":source:frequency:fixed 12.5 khz", {"$F000001250"}},
      {"FREQ:CW 2.45 GHz", {"$F245000000"}},
      {"FREQ 100000005", {"$F010000000"}},
      {"OUTP OFF", {"$F000000001"}},
      {"OUTP ON", {"$F010000000"}},
      {"FREQ MAX", {"$F999999999"}},
      {"OUTP 0;FREQ 433.92 MHZ;:OUTP 1", {"$F000000001", "$F043392000"}},
      {"POW -3", {"$P3"}},
      {"POW -3", {"$P3"}},
      {"POW -6 DBM", {"$P2"}},
      {"POWER:LEVEL -9", {"$P1"}},
      {"POW MIN", {"$P0"}},
      {"LFO:FREQ 2.5 KHZ", {"$M0002500"}},
      {"OUTP:MOD OFF", {"$M0000000"}},
      {"OUTP:MOD OFF;:LFO:FREQ 400;:OUTP:MOD ON", {"$M0000000", "$M0000400"}},
      // Back to CW after a sweep, the device is told its frequency again.
      {"FREQ:MODE SWE;MODE CW;STAR 100 MHZ;STOP 500 MHZ;:SWE:POIN 500", {"$F043392000"}},
      {"FREQ:MODE SWE;:FREQ 1 GHZ;:FREQ:MODE CW", {"$F100000000"}},
      {"FREQ:MODE CW", {}},
      {"FREQ:STEP 2.5 MHZ;:FREQ UP", {"$F100250000"}},
      {"FREQ DOWN;FREQ DOWN", {"$F100000000", "$F099750000"}},
      {"*IDN?;*CLS;*ESE 1;*SRE 1;*OPC;*WAI;SYST:ERR?;VERS?;:INIT:CONT OFF;:ABOR", {}},
      {"*SAV 0", {"$S0"}},
      {"FREQ:MODE SWE;*SAV 0", {"$S1"}},
      // 500 points from 100 to 500 MHz, both included.
      {"FREQ:MODE SWE;:INIT", {"$W010000000000801600500"}},
      {"*RST", {"$F000000001", "$M0000000", "$P3"}},
  };
  for (const auto& c : cases) {
    const std::size_t before = port.written.size();
    run(c.line);
    EXPECT_EQ(written_since(before), c.written) << c.line;
    EXPECT_EQ(errors(), Lines{}) << c.line;
    report_points(500);  // ends the one sweep pass among them
  }
  run("OUTP ON;:FREQ:STAR 50 MHZ;STOP 3000 MHZ;:SWE:POIN 9999;:FREQ:MODE SWE;:INIT");
  EXPECT_EQ(port.written.back(), "$W005000000000295069999");
}

struct QueryCase {
  const char* line;
  const char* answer;
};

TEST_F(Commands, QueriesAnswerTheStartUpValuesAndLimitsOnOneLine) {
  const QueryCase cases[] = {
      {"FREQ?", "100000000"},
      {"OUTP?", "0"},
      {"POW?", "-3"},
      {"LFO:FREQ?", "1000"},
      {"OUTP:MOD?", "0"},
      {"FREQ:STAR?;STOP?", "100000000;500000000"},
      {"SWE:POIN?", "500"},
      {"FREQ:MODE?", "CW"},
      {"INIT:CONT?", "0"},
      {"SYST:VERS?", "1999.0"},
      {"SYST:ERR?", "0,\"No error\""},
      {"SYST:ERR:ALL?;COUN?", "0,\"No error\";0"},
      {"FREQ:CENT?;SPAN?;STEP?", "300000000;400000000;1000000"},
      {"FREQ:SPAN? MAX;STEP:INCR? MIN", "9999999980;10"},
      {"STAT:OPER?;OPER:COND?;ENAB?;:STAT:QUES?;QUES:COND?;ENAB?", "0;0;0;0;0;0"},
      {"*OPT?", "0"},
      {"FREQ? MIN;FREQ? MAX", "20;9999999990"},
      {"FREQ:STAR? MIN", "10"},
      {"POW? MIN;POW? MAX", "-12;-3"},
      {"LFO:FREQ? MAX", "9999999"},
      {"SWE:POIN? MIN;POIN? MAX", "5;9999"},
      {"*ESE?;*SRE?;*ESR?;*STB?", "0;0;0;16"},
  };
  for (const auto& c : cases) EXPECT_EQ(run(c.line), c.answer) << c.line;
  EXPECT_TRUE(port.written.empty());
  EXPECT_EQ(port.open_calls, 0) << "queries never need the device";

  const std::string idn = run("*IDN?");
  EXPECT_TRUE(idn.starts_with("TALMIR,TALMIR-880,0,")) << idn;
  EXPECT_GT(idn.size(), std::string("TALMIR,TALMIR-880,0,").size());
  // A name is one field of the answer whatever its bytes.
  for (const auto& [name, serial] : std::vector<std::pair<std::string, std::string>>{
           {"COM3", "COM3"},
           {"tcp:[::1]:4001", "tcp:[::1]:4001"},
           {"/dev/serial/by-id/usb-A,B;C \"x\"\n", "/dev/serial/by-id/usb-A_B_C__x__"},
           {"", "0"}}) {
    instrument.name(name);
    EXPECT_TRUE(run("*IDN?").starts_with("TALMIR,TALMIR-880," + serial + ",")) << name;
  }
}

TEST_F(Commands, SettingsAnswerTheValueTheDeviceTook) {
  const QueryCase cases[] = {
      {"FREQ 433.92 MHZ;FREQ?", "433920000"},
      {"FREQ 100000005;FREQ?", "100000000"},
      {"POW -9;POW?", "-9"},
      {"LFO:FREQ 2.5 KHZ;FREQ?", "2500"},
      {"OUTP OFF;:OUTP?", "0"},
      {"FREQ 1 GHZ;FREQ?", "1000000000"},
      {"OUTP:MOD OFF;:LFO:FREQ 400;:OUTP:MOD?;:LFO:FREQ?", "0;400"},
      {"FREQ:STAR 1 GHZ;STAR?", "1000000000"},
      {"SWE:POIN 1000.4;POIN?", "1000"},
      {"FREQ:MODE FIX;MODE?", "CW"},
      {"OUTP ON;:INIT:CONT ON;CONT?", "1"},
      {"ABOR;:INIT:CONT?", "0"},
      {"FREQ:MODE SWEEP;MODE?", "SWE"},
      {"FREQ:MODE CW;STAR 100 MHZ;STOP 300 MHZ;CENT 1 GHZ;STAR?;STOP?", "900000000;1100000000"},
      {"FREQ:SPAN 1 MHZ;STAR?;STOP?;CENT?", "999500000;1000500000;1000000000"},
      {"SYST:REM;:SYST:LOC;:FREQ:STEP 10 KHZ;STEP?", "10000"},
  };
  for (const auto& c : cases) EXPECT_EQ(run(c.line), c.answer) << c.line;
  EXPECT_EQ(errors(), Lines{});
}

TEST_F(Commands, ResetTellsTheDeviceWhatTheQueriesThenSay) {
  switch_on();
  run("FREQ 2 GHZ;POW -12;:LFO:FREQ 5;:FREQ:STAR 1 GHZ;STOP 2 GHZ;STEP 1 KHZ;:SWE:POIN 7");
  run("INIT:CONT ON");
  const std::size_t before = port.written.size();
  EXPECT_EQ(run("*RST;:FREQ?;POW?;:LFO:FREQ?;:OUTP?;:OUTP:MOD?;:FREQ:STAR?;STOP?;MODE?;STEP?;"
                ":SWE:POIN?;:INIT:CONT?"),
            "100000000;-3;1000;0;0;100000000;500000000;CW;1000000;500;0");
  EXPECT_EQ(written_since(before), (Lines{"$F000000001", "$M0000000", "$P3"}));
}

struct RefusedCase {
  const char* line;
  Lines errors;
  Lines written;
};

TEST_F(Commands, ValuesTheDeviceCannotTakeAreRefusedAndNothingIsSent) {
  switch_on();
  const RefusedCase cases[] = {
      {"FREQ 9.9 HZ", {"-222,\"Data out of range\""}, {}},
      {"FREQ 15 HZ", {"-222,\"Data out of range\""}, {}},  // would be the RF-off command
      {"FREQ 10.0000001 GHZ", {"-222,\"Data out of range\""}, {}},
      {"FREQ 1e999", {"-222,\"Data out of range\""}, {}},
      {"FREQ:STAR 5", {"-222,\"Data out of range\""}, {}},
      {"LFO:FREQ 10 MHZ", {"-222,\"Data out of range\""}, {}},
      {"SWE:POIN 4", {"-222,\"Data out of range\""}, {}},
      {"SWE:POIN 10000", {"-222,\"Data out of range\""}, {}},
      {"POW -4", {"-224,\"Illegal parameter value\""}, {}},
      {"POW 0 DBM", {"-224,\"Illegal parameter value\""}, {}},
      {"FREQ:MODE LIST", {"-224,\"Illegal parameter value\""}, {}},
      {"OUTP MAYBE", {"-224,\"Illegal parameter value\""}, {}},
      {"INIT", {"-221,\"Settings conflict\""}, {}},
      // Back to CW with the output on: the device is told its frequency.
      {"FREQ:MODE SWE;STOP 50 MHZ;:INIT;:FREQ:STOP 500 MHZ;MODE CW",
       {"-221,\"Settings conflict\""},
       {"$F010000000"}},
      {"*SAV 1", {"-222,\"Data out of range\""}, {}},
      {"FREQ:MODE SWE;STAR 100 MHZ;STOP 100.00001 MHZ;:SWE:POIN 9999;:INIT;"
       ":FREQ:STOP 500 MHZ;MODE CW;:SWE:POIN 500",
       {"-221,\"Settings conflict\""},
       {"$F010000000"}},
      {"FREQ:CENT 100 HZ", {"-222,\"Data out of range\""}, {}},
      {"FREQ:SPAN 10 GHZ", {"-222,\"Data out of range\""}, {}},
      {"FREQ:STEP 5 HZ", {"-222,\"Data out of range\""}, {}},
      {"FREQ:STEP 1 GHZ;:FREQ DOWN;:FREQ:STEP 1 MHZ", {"-222,\"Data out of range\""}, {}},
      {"*ESE 256", {"-222,\"Data out of range\""}, {}},
      {"FREQ 100 DBM", {"-131,\"Invalid suffix\""}, {}},
      {"POW -3 HZ", {"-131,\"Invalid suffix\""}, {}},
      {"FREQ", {"-109,\"Missing parameter\""}, {}},
      {"FREQ 1 GHZ,2 GHZ", {"-108,\"Parameter not allowed\""}, {}},
      {"*RST 1", {"-108,\"Parameter not allowed\""}, {}},
      {"OUTP? 1", {"-108,\"Parameter not allowed\""}, {}},
      {"FREQ 'x'", {"-104,\"Data type error\""}, {}},
      {"FREQ:MODE 1", {"-104,\"Data type error\""}, {}},
      {"FREQ,1", {"-102,\"Syntax error\""}, {}},
      {"DISP ON", {"-113,\"Undefined header\""}, {}},
      // A command error drops the rest of its line; other errors only
      // their own command.
      {"DISP ON;POW -6", {"-113,\"Undefined header\""}, {}},
      {"FREQ 1;POW -6", {"-222,\"Data out of range\""}, {"$P2"}},
  };
  for (const auto& c : cases) {
    const std::size_t before = port.written.size();
    run(c.line);
    EXPECT_EQ(errors(), c.errors) << c.line;
    EXPECT_EQ(written_since(before), c.written) << c.line;
  }
  EXPECT_EQ(run("FREQ?;POW?;:FREQ:STOP?"), "100000000;-6;500000000");
}

// A pass retunes the device across its span: RF on, which only OUTP ON may
// bring about.
TEST_F(Commands, APassWithTheOutputOffIsRefusedAndNothingIsSent) {
  const std::string kOutputOff = "-221,\"Settings conflict;output off\"";
  for (const char* line : {"FREQ:MODE SWE;:INIT", "FREQ:MODE SWE;:INIT:CONT ON",
                           "OUTP ON;:OUTP OFF;:FREQ:MODE SWE;:INIT"}) {
    const std::size_t before = port.written.size();
    run(line);
    EXPECT_EQ(errors(), Lines{kOutputOff}) << line;
    EXPECT_FALSE(std::any_of(port.written.begin() + static_cast<std::ptrdiff_t>(before),
                             port.written.end(),
                             [](const std::string& w) { return w.starts_with("$W"); }))
        << line;
    EXPECT_EQ(run("INIT:CONT?;:STAT:OPER:COND?"), "0;0") << line;
  }
}

TEST_F(Commands, ErrorsSetTheEventStatusRegisterAndTheStatusByte) {
  run("*ESE 60;*SRE 32");
  run("DISP ON");  // CME
  run("FREQ 1");   // EXE
  EXPECT_EQ(run("*STB?"), "100") << "EAV 4 + ESB 32 + MSS 64";
  EXPECT_EQ(run("*ESR?;*ESR?"), "48;0");
  EXPECT_EQ(run("*OPC;*ESR?"), "1");
  EXPECT_EQ(run("*STB?"), "4") << "the queue still holds two";
  run("*CLS");
  EXPECT_EQ(run("*STB?;*STB?"), "0;16") << "MAV once the line has an answer waiting";
  EXPECT_EQ(run("SYST:ERR?"), "0,\"No error\"");
  EXPECT_TRUE(instrument.error_seen(1));
}

}  // namespace
}  // namespace talmir880::testing
