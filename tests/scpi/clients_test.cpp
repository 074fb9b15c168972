// Several clients on one instrument: each in its own order, answers to the
// asker, clients that leave, and bounded backlogs.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "scpi/instrument_fixture.hpp"
#include "scpi/line_feeder.hpp"

namespace talmir880::testing {
namespace {

using Clients = InstrumentTest;
using Answers = std::vector<std::pair<ClientId, std::string>>;
using Lines = std::vector<std::string>;

TEST_F(Clients, OperationCompleteWaitsForAnotherClientsEarlierCommand) {
  switch_on();
  submit(1, "FREQ 200 MHZ");
  submit(2, "*OPC?;FREQ?");
  EXPECT_TRUE(answers.empty());
  EXPECT_FALSE(instrument.idle());
  acknowledge_all();
  EXPECT_EQ(answers, (Answers{{2, "1;200000000"}}));
  EXPECT_TRUE(instrument.idle());
}

TEST_F(Clients, EveryLineOfAClientThatLeftRunsAndItsAnswersAreDropped) {
  switch_on();
  submit(1, "FREQ 200 MHZ;FREQ?;POW -6");
  submit(1, "POW -12;:OUTP OFF");
  instrument.detach(1);
  acknowledge_all();
  EXPECT_EQ(port.written, (Lines{"$F020000000", "$P2", "$P0", "$F000000001"}));
  EXPECT_TRUE(answers.empty());
  EXPECT_TRUE(instrument.idle());
  submit(2, "FREQ?;:OUTP?;:POW?");
  EXPECT_EQ(answers, (Answers{{2, "200000000;0;-12"}}));
}

TEST_F(Clients, AClientThatEndsIsAnsweredBeforeItIsToldItIsFinished) {
  switch_on();
  submit(1, "POW -6");
  submit(1, "*IDN?");
  instrument.end_of_input(1);
  EXPECT_EQ(clients[0]->finishes, 0) << "its lines have not run yet";
  acknowledge_all();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].first, 1u);
  EXPECT_EQ(clients[0]->finishes, 1);
  submit(1, "POW -9");
  EXPECT_EQ(port.written, Lines{"$P2"}) << "nothing is taken after the end";
}

TEST_F(Clients, AFreshClientIsAnsweredWhateverAnotherHasQueued) {
  switch_on();
  // A silent device: each command of client 1 waits out its watchdog.
  for (int i = 0; i < 10; ++i) submit(1, "POW -6");
  submit(2, "*IDN?;SYST:VERS?");
  EXPECT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].first, 2u);
  EXPECT_EQ(instrument.backlog(1), 10u);
  submit(3, "POW -9;*IDN?");
  EXPECT_EQ(answers.size(), 1u) << "a device command waits its turn";
  // Each unanswered command, then the wait for its late reply.
  for (int i = 0; i < 4; ++i) watchdog.run_out();
  EXPECT_EQ(port.written, (Lines{"$P2", "$P1", "$P2"}))
      << "one at a time, in the order the instrument took them";
  EXPECT_EQ(answers.back().first, 3u);
}

TEST_F(Clients, AClientsBacklogIsCappedAndRoomIsToldAsLinesFinish) {
  for (std::size_t i = 0; i <= scpi::Instrument::kMaxBacklog; ++i) submit(1, "POW -6");
  EXPECT_EQ(instrument.backlog(1), scpi::Instrument::kMaxBacklog);
  EXPECT_EQ(instrument.backlog(2), 0u) << "others are not held to it";
  acknowledge_all();
  EXPECT_EQ(port.written.size(), scpi::Instrument::kMaxBacklog);
  EXPECT_EQ(clients[0]->rooms, static_cast<int>(scpi::Instrument::kMaxBacklog));
  EXPECT_EQ(instrument.backlog(1), 0u);
  EXPECT_EQ(errors(), Lines{"-363,\"Input buffer overrun\""});
}

TEST_F(Clients, AtMostSixteenClientsAndTheLeftOnesLinesAreBounded) {
  std::vector<std::unique_ptr<Recorder>> more;
  for (ClientId id = 5; id <= scpi::Instrument::kMaxClients; ++id) {
    more.push_back(std::make_unique<Recorder>(*this, id));
    EXPECT_EQ(instrument.attach(*more.back()), id);
  }
  Recorder extra(*this, 0);
  EXPECT_FALSE(instrument.attach(extra));
  instrument.detach(1);
  EXPECT_TRUE(instrument.attach(extra)) << "a place is free as soon as its client left";

  // Clients that leave with lines still to run hold the place of those
  // lines until they have run.
  for (ClientId id = 2; id <= scpi::Instrument::kMaxClients + 1; ++id) {
    for (std::size_t i = 0; i < scpi::Instrument::kMaxBacklog; ++i) submit(id, "POW -6");
    instrument.detach(id);
  }
  Recorder late(*this, 0);
  EXPECT_FALSE(instrument.attach(late));
  watchdog.run_out();  // a silent device: one line less
  EXPECT_TRUE(instrument.attach(late));
}

TEST_F(Clients, AClientWhoseInputEndedHoldsNoPlaceWhileItsLineRuns) {
  std::vector<std::unique_ptr<Recorder>> more;
  for (ClientId id = 5; id <= scpi::Instrument::kMaxClients; ++id) {
    more.push_back(std::make_unique<Recorder>(*this, id));
    ASSERT_EQ(instrument.attach(*more.back()), id);
  }
  // A long line of device commands, then the end of its input, as a
  // one-shot that closed its side.
  submit(1, "*SAV 0;*SAV 0;*SAV 0");
  instrument.end_of_input(1);
  Recorder fresh(*this, 0);
  const std::optional<ClientId> id = instrument.attach(fresh);
  ASSERT_TRUE(id) << "a place for a fresh client at once";
  fresh.id = *id;
  submit(*id, "*IDN?");
  EXPECT_NE(answers.back().second.find("TALMIR-880"), std::string::npos);
  acknowledge_all();
  EXPECT_EQ(port.written.size(), 3u) << "the ended line ran whole";
  EXPECT_EQ(clients[0]->finishes, 1);
}

TEST_F(Clients, ALongRunOfWorkTakesTurnsAndAFreshClientIsAnsweredBetween) {
  ManualCountdown next_turn;
  next_turn.ran_out = [this] { instrument.next_turn_ran_out(); };
  instrument.take_turns(next_turn);
  std::string line = "FREQ?";
  for (int i = 1; i < 3000; ++i) line += ";FREQ?";
  submit(1, line);
  EXPECT_TRUE(answers.empty()) << "the line is not done in one turn";
  ASSERT_TRUE(next_turn.running());
  submit(2, "*IDN?");
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].first, 2u) << "a fresh line is answered between turns";
  int turns = 0;
  while (next_turn.running() && turns < 10) {
    next_turn.run_out();
    ++turns;
  }
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[1].first, 1u);
  EXPECT_EQ(std::count(answers[1].second.begin(), answers[1].second.end(), ';'), 2999);
  EXPECT_GE(turns, 1);
  EXPECT_LE(turns, 3) << "3000 units in turns of " << scpi::Instrument::kUnitsPerTurn;
}

TEST_F(Clients, AnOverlongLineIsReportedInItsTurnAndTheClientGoesOn) {
  submit(1, "FREQ 5 HZ");
  submit(2, "POW -6");
  instrument.overrun(1);
  submit(1, "SYST:ERR?;ERR?");
  acknowledge_all();
  EXPECT_EQ(answers, (Answers{{1, "-222,\"Data out of range\";-363,\"Input buffer overrun\""}}));
}

TEST_F(Clients, AnAnswerMayBringTheNextLineAtOnce) {
  // As the standard-input mode does: read the next line when one is answered.
  struct Eager : scpi::ClientEvents {
    void answer(std::string text) override {
      answers.push_back(text);
      if (answers.size() < 3) instrument->submit(id, "POW -6;*OPC?");
    }
    scpi::Instrument* instrument = nullptr;
    ClientId id = 0;
    Lines answers;
  } eager;
  instrument.detach(4);
  eager.instrument = &instrument;
  eager.id = *instrument.attach(eager);
  submit(eager.id, "*OPC?");
  acknowledge_all();
  EXPECT_EQ(eager.answers, (Lines{"1", "1", "1"}));
  EXPECT_EQ(port.written, (Lines{"$P2", "$P2"}));
  EXPECT_TRUE(instrument.idle());
  EXPECT_FALSE(instrument.error_seen(1));
  run("POW 1");
  EXPECT_TRUE(instrument.error_seen(1));
  EXPECT_FALSE(instrument.error_seen(eager.id)) << "client 1's error";
  instrument.detach(eager.id);
}

// Every transport feeds its bytes the same way: whole lines while the
// client has room, the rest when room comes back, a last line without LF
// at the end; and where web pages can reach, nothing from a web request on.
TEST_F(Clients, TheLineFeederHandsOverLinesOnlyWhileTheClientHasRoom) {
  scpi::LineFeeder feeder(instrument);
  std::string bytes;
  for (int i = 0; i < 20; ++i) bytes += "POW -6\n";
  bytes += "*IDN?";
  std::size_t took = feeder.feed(1, bytes);
  EXPECT_EQ(took, scpi::Instrument::kMaxBacklog * 7) << "up to the first line without room";
  acknowledge_all();
  took += feeder.feed(1, std::string_view(bytes).substr(took));
  EXPECT_EQ(took, bytes.size()) << "the partial line needs no room";
  acknowledge_all();
  EXPECT_TRUE(answers.empty());
  EXPECT_TRUE(feeder.end(1));
  deliver();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].second.substr(0, 17), "TALMIR,TALMIR-880");
  EXPECT_EQ(port.written.size(), 20u);

  scpi::LineFeeder guarded(instrument, scpi::LineFeeder::Guard::web);
  guarded.feed(2, "*IDN?\nPOST / HTTP/1.1\nPOW -9\n");
  EXPECT_TRUE(guarded.web_request());
  deliver();
  EXPECT_EQ(answers.size(), 2u) << "the line before the request ran";
  EXPECT_EQ(port.written.size(), 20u) << "nothing from the request on";
}

}  // namespace
}  // namespace talmir880::testing
