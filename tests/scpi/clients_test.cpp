// Several clients on one instrument: arrival order, answers to the asker,
// clients that go away, and bounded backlogs.
#include <string>
#include <utility>
#include <vector>

#include "scpi/instrument_fixture.hpp"

namespace talmir880::testing {
namespace {

using Clients = InstrumentTest;
using Answers = std::vector<std::pair<ClientId, std::string>>;
using Lines = std::vector<std::string>;

TEST_F(Clients, OperationCompleteWaitsForAnotherClientsEarlierCommand) {
  instrument.submit(1, "FREQ 200 MHZ");
  instrument.submit(2, "*OPC?;FREQ?");
  EXPECT_TRUE(answers.empty());
  EXPECT_FALSE(instrument.idle());
  acknowledge_all();
  EXPECT_EQ(answers, (Answers{{2, "1;200000000"}}));
  EXPECT_TRUE(instrument.idle());
}

TEST_F(Clients, AForgottenClientsCommandCompletesAndItsAnswersAreDropped) {
  instrument.submit(1, "FREQ 200 MHZ;FREQ?;POW -6");
  instrument.submit(1, "POW -9");
  instrument.submit(2, "FREQ?");
  instrument.forget(1);
  EXPECT_TRUE(answers.empty());
  acknowledge_all();
  EXPECT_EQ(answers, (Answers{{2, "200000000"}})) << "the device took the frequency";
  EXPECT_EQ(port.written, Lines{"$F020000000"}) << "nothing more of client 1";
  EXPECT_TRUE(instrument.idle());
}

TEST_F(Clients, AForgottenClientWaitingForASweepHoldsNobody) {
  run("FREQ:MODE SWE;:INIT");
  instrument.submit(1, "*OPC?");
  instrument.submit(2, "SWE:POIN?");
  instrument.forget(1);
  EXPECT_EQ(answers, (Answers{{2, "500"}}));
}

TEST_F(Clients, AClientsBacklogIsCappedAndRoomIsToldAsLinesFinish) {
  std::vector<ClientId> room;
  instrument.room = [&](ClientId c) { room.push_back(c); };
  for (std::size_t i = 0; i <= scpi::Instrument::kMaxBacklog; ++i) instrument.submit(1, "POW -6");
  EXPECT_EQ(instrument.backlog(1), scpi::Instrument::kMaxBacklog);
  EXPECT_EQ(instrument.backlog(2), 0u) << "others are not held to it";
  acknowledge_all();
  EXPECT_EQ(port.written.size(), scpi::Instrument::kMaxBacklog);
  EXPECT_EQ(room.size(), scpi::Instrument::kMaxBacklog);
  EXPECT_EQ(instrument.backlog(1), 0u);
  EXPECT_EQ(errors(), Lines{"-363,\"Input buffer overrun\""});
}

TEST_F(Clients, AnOverlongLineIsReportedInItsTurnAndTheClientGoesOn) {
  instrument.submit(1, "FREQ 5 HZ");
  instrument.submit(2, "POW -6");
  instrument.overrun(1);
  instrument.submit(1, "SYST:ERR?;ERR?");
  acknowledge_all();
  EXPECT_EQ(answers, (Answers{{1, "-222,\"Data out of range\";-363,\"Input buffer overrun\""}}));
}

TEST_F(Clients, AnAnswerMayBringTheNextLineAtOnce) {
  // As the standard-input mode does: read the next line when one is answered.
  instrument.answer = [this](ClientId client, std::string text) {
    answers.emplace_back(client, text);
    if (answers.size() < 3) instrument.submit(client, "POW -6;*OPC?");
  };
  instrument.submit(1, "*OPC?");
  acknowledge_all();
  EXPECT_EQ(answers, (Answers{{1, "1"}, {1, "1"}, {1, "1"}}));
  EXPECT_EQ(port.written, (Lines{"$P2", "$P2"}));
  EXPECT_TRUE(instrument.idle());
  EXPECT_FALSE(instrument.error_seen());
  run("POW 1");
  EXPECT_TRUE(instrument.error_seen());
}

}  // namespace
}  // namespace talmir880::testing
