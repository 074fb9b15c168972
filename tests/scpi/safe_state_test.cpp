// The switch-off that leaves a bench safe: after the lines received, when
// asked, when the last client has gone, and when nobody sent anything for
// too long while something was on.
#include <algorithm>
#include <string>
#include <vector>

#include "programs/common/command_line.hpp"
#include "scpi/command_log.hpp"
#include "scpi/instrument_fixture.hpp"

namespace talmir880::testing {
namespace {

using Lines = std::vector<std::string>;
const Lines kOff{"$F000000001", "$M0000000"};

class SafeState : public InstrumentTest, private scpi::InstrumentEvents {
 protected:
  SafeState() {
    idle.ran_out = [this] { instrument.idle_ran_out(); };
    instrument.observe(*this);
  }
  void switching_off(OffBecause why) override { reasons.push_back(why); }
  void detach_all() {
    for (ClientId id = 1; id <= 4; ++id) instrument.detach(id);
  }

  ManualCountdown idle;
  std::vector<OffBecause> reasons;
};

TEST_F(SafeState, TheSwitchOffWaitsUntilNoLineIsLeftAndThenTellsItsCaller) {
  switch_on();
  submit(1, "FREQ 200 MHZ");
  submit(2, "POW -9");
  bool done = false;
  instrument.switch_off([&done] { done = true; });
  submit(3, "OUTP ON");  // nothing received can switch it on after the switch-off
  acknowledge_all();
  EXPECT_EQ(port.written, (Lines{"$F020000000", "$P1", "$F020000000", "$F000000001", "$M0000000"}));
  EXPECT_TRUE(done);
  EXPECT_TRUE(reasons.empty()) << "asked for, so not one of its own";
}

// Each command is tried, the lost switch-off again ahead of the next one,
// and the switch-off ends; what it could not confirm is not said to be off.
TEST_F(SafeState, ASilentDeviceStillEndsTheSwitchOff) {
  switch_on();
  bool done = false;
  instrument.switch_off([&done] { done = true; });
  for (int i = 0; i < 6; ++i) watchdog.run_out();  // each command and its late reply
  EXPECT_EQ(port.written, (Lines{"$F000000001", "$F000000001", "$M0000000", "$F000000001"}))
      << "the last one by itself, as long as no R comes";
  EXPECT_TRUE(done);
  submit(1, "OUTP?;:OUTP:MOD?");
  EXPECT_EQ(answers.back().second, "1;1") << "a switch-off without its R is not confirmed";
  acknowledge_all();
  EXPECT_EQ(run("OUTP?;:OUTP:MOD?"), "0;0");
}

TEST_F(SafeState, RepeatedPassesStopBeforeTheOutputGoesOff) {
  switch_on();
  run("FREQ:MODE SWE;STAR 100 MHZ;STOP 500 MHZ;:SWE:POIN 5;:INIT:CONT ON");
  instrument.switch_off();
  report_points(5);  // the running pass ends on its own
  acknowledge_all();
  ASSERT_GE(port.written.size(), 3u);
  EXPECT_EQ(written_since(port.written.size() - 2), kOff);
  EXPECT_EQ(std::count_if(port.written.begin(), port.written.end(),
                          [](const std::string& w) { return w.starts_with("$W"); }),
            1);
  EXPECT_EQ(run("INIT:CONT?"), "0");
}

TEST_F(SafeState, TheLastClientLeavingSwitchesOffOnlyWhenAskedAndOnlyTheLast) {
  instrument.keep_safe({true, nullptr});
  switch_on();
  for (ClientId id = 1; id <= 3; ++id) instrument.detach(id);
  EXPECT_TRUE(port.written.empty()) << "client 4 is still there";
  submit(4, "POW -9");
  instrument.detach(4);
  acknowledge_all();
  EXPECT_EQ(port.written, (Lines{"$P1", "$F000000001", "$M0000000"}));
  EXPECT_EQ(reasons, std::vector{OffBecause::unused});
}

TEST_F(SafeState, ClientsThatSentNothingSinceTheLastSwitchOffCallForNoOther) {
  instrument.keep_safe({true, nullptr});
  switch_on();
  detach_all();
  acknowledge_all();
  ASSERT_EQ(port.written, kOff);
  scpi::ClientEvents& events = *clients[0];
  const ClientId visitor = *instrument.attach(events);
  instrument.detach(visitor);
  acknowledge_all();
  EXPECT_EQ(port.written, kOff) << "one who only connected changed nothing";
}

TEST_F(SafeState, AClientComingBeforeTheLeftLinesRanKeepsTheOutputOn) {
  instrument.keep_safe({true, nullptr});
  switch_on();
  for (ClientId id = 1; id <= 3; ++id) instrument.detach(id);
  submit(4, "POW -9");
  instrument.detach(4);
  scpi::ClientEvents& events = *clients[0];
  ASSERT_TRUE(instrument.attach(events).has_value());
  acknowledge_all();
  EXPECT_EQ(port.written, Lines{"$P1"});
}

TEST_F(SafeState, WithoutTheChoiceClientsLeaveTheOutputAsItIs) {
  switch_on();
  detach_all();
  acknowledge_all();
  idle.run_out();
  EXPECT_TRUE(port.written.empty());
}

TEST_F(SafeState, NoLineForTooLongSwitchesOffOnlyWhatIsOn) {
  instrument.keep_safe({false, &idle});
  run("OUTP:MOD ON");
  EXPECT_TRUE(idle.running()) << "every line starts it afresh";
  port.written.clear();
  idle.run_out();
  acknowledge_all();
  EXPECT_EQ(port.written, kOff);
  EXPECT_EQ(reasons, std::vector{OffBecause::unattended});

  port.written.clear();
  run("*IDN?");
  idle.run_out();
  EXPECT_TRUE(port.written.empty()) << "everything was off already";
}

TEST_F(SafeState, ALineAfterTheTimeRanOutButBeforeTheSwitchOffCancelsIt) {
  instrument.keep_safe({false, &idle});
  switch_on();
  submit(1, "POW -6");  // waits for its R
  idle.run_out();
  submit(2, "*IDN?");
  acknowledge_all();
  EXPECT_EQ(port.written, Lines{"$P2"});
}

// The log lines as the programs write them, the first `kept` in full.
struct CommandLog final : scpi::InstrumentEvents {
  explicit CommandLog(scpi::Instrument& instrument, std::size_t kept = SIZE_MAX)
      : instrument(instrument), kept(kept) {
    instrument.observe(*this);
    instrument.log_commands(true);
  }
  ~CommandLog() override { instrument.forget(*this); }
  void command_written(std::string_view who, std::string_view command,
                       std::string_view line) override {
    const std::string text = programs::command_log_text(who, command, line);
    logged += text.size();
    if (lines.size() < kept) lines.push_back(text);
  }
  scpi::Instrument& instrument;
  std::size_t kept;
  std::size_t logged = 0;
  Lines lines;
};

TEST_F(SafeState, TheCommandLogNamesWhoAndTheLineAndTheSwitchOffAsTheServers) {
  const CommandLog log(instrument);
  scpi::ClientEvents& events = *clients[0];
  const ClientId named = *instrument.attach(events, "127.0.0.1:40000");
  submit(named, "OUTP ON;:POW -6");
  acknowledge_all();
  submit(named, "FREQ:MODE SWE;STAR 100 MHZ;STOP 500 MHZ;:SWE:POIN 5;:INIT:CONT ON");
  report_points(5);
  instrument.switch_off();
  report_points(5);
  acknowledge_all();
  const std::string sweep = "FREQ:MODE SWE;STAR 100 MHZ;STOP 500 MHZ;:SWE:POIN 5;:INIT:CONT ON";
  EXPECT_EQ(log.lines, (Lines{"127.0.0.1:40000 $F010000000 <- OUTP ON;:POW -6",
                              "127.0.0.1:40000 $P2 <- OUTP ON;:POW -6",
                              "127.0.0.1:40000 $W010000000100000000005 <- " + sweep,
                              "127.0.0.1:40000 $W010000000100000000005 <- " + sweep,
                              "server $F000000001 <- switch-off: the server stops",
                              "server $M0000000 <- switch-off: the server stops"}));
}

TEST(CitedLine, BoundedAndUnableToForgeLogLines) {
  const std::string hundred(100, 'a');
  struct Case {
    std::string line;
    std::string cited;
  };
  const std::vector<Case> cases = {
      {"OUTP ON;:FREQ 433.92 MHZ", "OUTP ON;:FREQ 433.92 MHZ"},
      {"POW -6\r\n2026 panel $F1 \x1b[2J\\ \xe4",
       "POW -6\\x0d\\x0a2026 panel $F1 \\x1b[2J\\x5c \\xe4"},
      {hundred, hundred},
      {hundred + "b", hundred + " ... (101 bytes)"},
      {std::string(99, 'a') + "\xe4\xe4", std::string(99, 'a') + "\\xe4 ... (101 bytes)"},
      {std::string(65536, ';'), std::string(100, ';') + " ... (65536 bytes)"},
  };
  for (const Case& c : cases) EXPECT_EQ(scpi::cited_line(c.line), c.cited) << c.line.size();
}

TEST_F(SafeState, ALongLineIsCitedShortForEachCommandItCauses) {
  const CommandLog log(instrument, 2);
  std::string line = "*SAV 0";
  while (line.size() + 7 <= 65535) line += ";*SAV 0";
  const std::size_t commands = (line.size() + 1) / 7;
  const ClientId named = *instrument.attach(*clients[0], "127.0.0.1:40000");
  submit(named, line);
  acknowledge_all();
  ASSERT_EQ(port.written.size(), commands);
  const std::string cited = scpi::cited_line(line);
  EXPECT_EQ(cited.size(), 100 + std::string(" ... (65533 bytes)").size());
  EXPECT_EQ(log.lines, (Lines{"127.0.0.1:40000 " + port.written[0] + " <- " + cited,
                              "127.0.0.1:40000 " + port.written[1] + " <- " + cited}));
  // Each log line is the command and the citation, not the whole line.
  EXPECT_LT(log.logged, commands * 150);
}

}  // namespace
}  // namespace talmir880::testing
