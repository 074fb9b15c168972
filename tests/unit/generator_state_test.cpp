// The generator's state as the shared line keeps it: written from what the
// device acknowledged, heard by both faces.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "device/shared_line.hpp"
#include "support/fake_serial_port.hpp"

namespace talmir880 {
namespace {

struct Heard {
  Fact fact;
  Face by;
  bool overtaken;
  bool operator==(const Heard&) const = default;
};

class Recorder : public GeneratorObserver {
 public:
  void held_changed(Fact fact, Face by, bool overtaken) override {
    heard.push_back({fact, by, overtaken});
  }
  void pass_began(const Pass& pass) override { passes.push_back(pass); }
  void pass_ended(Face) override { ++ended; }
  void became_unsure(Fact fact) override { unsure.push_back(fact); }
  void port_changed(PortState port) override { ports.push_back(port); }

  std::vector<Heard> heard;
  std::vector<Pass> passes;
  int ended = 0;
  std::vector<PortState> ports;
  std::vector<Fact> unsure;
};

class GeneratorStateTest : public ::testing::Test {
 protected:
  GeneratorStateTest() {
    line.observe(recorder);
    line.panel().set_PortOpen(true);
  }

  const Held& held() const { return line.state().held(); }

  testing::FakeSerialPort port;
  SharedLine line{port};
  Recorder recorder;
};

TEST_F(GeneratorStateTest, EachAcknowledgedCommandSetsWhatTheDeviceHolds) {
  struct Row {
    std::string command;
    Fact fact;
    Switched rf;
    double rf_hz;
    Switched modulation;
    double modulation_hz;
    int level_dbm;
  };
  constexpr Switched on = Switched::on, off = Switched::off, unsure = Switched::unsure;
  // One after the other: each row is what the device holds once it took it.
  const Row rows[] = {
      {"$F043392000", Fact::rf, on, 433.92e6, unsure, 1e3, -3},
      {"$M0001000", Fact::modulation, on, 433.92e6, on, 1000, -3},
      {"$P1", Fact::level, on, 433.92e6, on, 1000, -9},
      {"$F000000001", Fact::rf, off, 433.92e6, on, 1000, -9},
      {"$M0000000", Fact::modulation, off, 433.92e6, off, 1000, -9},
      {"$M0012345", Fact::modulation, off, 433.92e6, on, 12345, -9},
  };
  for (const Row& row : rows) {
    line.panel().Output(row.command);
    port.receive("R");
    SCOPED_TRACE(row.command);
    EXPECT_EQ(held().rf, row.rf);
    EXPECT_EQ(held().rf_hz, row.rf_hz);
    EXPECT_EQ(held().modulation, row.modulation);
    EXPECT_EQ(held().modulation_hz, row.modulation_hz);
    EXPECT_EQ(held().value(protocol::kLevel), row.level_dbm);
    ASSERT_FALSE(recorder.heard.empty());
    EXPECT_EQ(recorder.heard.back(), (Heard{row.fact, Face::panel, false}));
  }
  line.panel().Output("$S1");
  port.receive("R");
  EXPECT_EQ(held().saved, protocol::SaveMode::sweep);
}

TEST_F(GeneratorStateTest, OnlyAnAcknowledgedCommandMakesAnOutputKnown) {
  EXPECT_EQ(held().rf, Switched::unsure) << "nothing acknowledged since the port opened";
  line.panel().Output("$F000000001");
  port.receive("R");
  ASSERT_EQ(held().rf, Switched::off);
  line.panel().Output("$F043392000");
  EXPECT_EQ(held().rf, Switched::off) << "written, not yet taken";
  port.receive("x");
  line.panel_gave_up();
  EXPECT_EQ(held().rf, Switched::unsure) << "no R: the device may have taken it";
  port.receive("R");
  EXPECT_EQ(held().rf, Switched::unsure) << "an R after the watchdog gave up is nobody's";
  EXPECT_EQ(recorder.heard.size(), 1u);
  EXPECT_EQ(recorder.unsure, std::vector{Fact::rf}) << "heard once, when it stopped being known";
}

// What the line owes each output towards off, and why, step by step.
TEST_F(GeneratorStateTest, AnUnsureOutputIsOwedItsSwitchOffUntilACommandForItIsWritten) {
  using Why = Owed::Why;
  const auto gone = [this] {
    port.fail_read = true;
    port.receive("");
    port.fail_read = false;
  };
  struct Step {
    std::string what;
    std::function<void()> act;
    Switched rf;
    Why why;
  };
  const Step steps[] = {
      {"the port opened", [] {}, Switched::unsure, Why::reached},
      {"a switch-off written", [this] { line.remote().Output("$F000000001"); }, Switched::unsure,
       Why::nothing},
      {"and taken", [this] { port.receive("R"); }, Switched::off, Why::nothing},
      {"a switch-on lost",
       [this] {
         line.remote().Output("$F010000000");
         line.remote_unanswered();
         line.remote_exchange_ended();
       },
       Switched::unsure, Why::nothing},
      {"a switch-off lost",
       [this] {
         line.panel().Output("$F000000001");
         line.panel_gave_up();
       },
       Switched::unsure, Why::unanswered},
      {"a switch-on written over it", [this] { line.panel().Output("$F010000000"); },
       Switched::unsure, Why::nothing},
      {"and taken", [this] { port.receive("R"); }, Switched::on, Why::nothing},
      {"the device gone", gone, Switched::unsure, Why::back},
      {"and back", [this] { line.panel().set_PortOpen(true); }, Switched::unsure, Why::back},
      {"taken", [this] { line.panel().Output("$F010000000"), port.receive("R"); }, Switched::on,
       Why::nothing},
      {"closed and opened by its owner",
       [this] {
         line.panel().set_PortOpen(false);
         line.panel().set_PortOpen(true);
       },
       Switched::unsure, Why::reached},
  };
  for (const Step& step : steps) {
    step.act();
    EXPECT_EQ(held().rf, step.rf) << step.what;
    EXPECT_EQ(line.state().owed(Fact::rf).why, step.why) << step.what;
  }
  EXPECT_EQ(line.state().owed(Fact::modulation).why, Why::reached) << "no command for it";
  EXPECT_EQ(held().rf_hz, 100e6) << "the frequency it was tuned to stays known";
}

TEST_F(GeneratorStateTest, EachFaceIsNamedAndTheHandOvertakesAScriptOfTheSameKind) {
  line.remote().Output("$F010000000");
  line.panel().Output("$F020000000");
  line.remote().Output("$P2");
  port.receive("RRR");
  const std::vector<Heard> want = {{Fact::rf, Face::remote, true},
                                   {Fact::rf, Face::panel, false},
                                   {Fact::level, Face::remote, false}};
  EXPECT_EQ(recorder.heard, want);
  EXPECT_EQ(held().rf_hz, 200e6) << "the hand's, written last";
  EXPECT_EQ(held().value(protocol::kLevel), -6);
}

TEST_F(GeneratorStateTest, ThePortsStatesAreHeardAndAFailureAfterwardsIsNoReturn) {
  port.fail_read = true;
  port.receive("");
  EXPECT_EQ(line.state().port(), PortState::gone);
  port.fail_read = false;
  line.panel().set_PortOpen(false);
  EXPECT_EQ(line.state().port(), PortState::gone) << "closing after a fault is no return";
  port.fail_open = true;
  EXPECT_THROW(line.panel().set_PortOpen(true), PortError);
  EXPECT_EQ(line.state().port(), PortState::absent);
  port.fail_open = false;
  line.panel().set_PortOpen(true);
  testing::deliver();
  EXPECT_EQ(recorder.ports,
            (std::vector{PortState::open, PortState::gone, PortState::absent, PortState::open}));
}

TEST_F(GeneratorStateTest, APassIsOnRecordFromItsCommandToItsEndWithItsReports) {
  const std::string sweep = protocol::sweep(100e6, 1e6, 3);
  line.remote().Output(sweep);
  ASSERT_TRUE(line.state().pass().has_value());
  EXPECT_EQ(line.state().pass()->by, Face::remote);
  EXPECT_EQ(line.state().pass()->start_hz, 100e6);
  EXPECT_EQ(line.state().pass()->step_hz, 1e6);
  EXPECT_EQ(line.state().pass()->expected, 3 * protocol::kCharsPerSweepPoint);
  port.receive(std::string(5, '.'));
  EXPECT_EQ(line.state().pass()->seen, 5u);
  EXPECT_TRUE(line.free_for_remote()) << "a remote pass does not hold the panel's line";
  line.remote_pass_ended();
  testing::deliver();
  EXPECT_FALSE(line.state().pass().has_value());
  EXPECT_EQ(recorder.ended, 1);

  // The hand's pass holds the line until its own sweep says it is over.
  struct Sweep final : LineEvents {
    bool sweeping = true;
    bool panel_sweeping() const override { return sweeping; }
  } panel;
  bool& sweeping = panel.sweeping;
  line.add_listener(panel);
  line.panel_event_began();
  line.panel().Output(sweep);
  line.panel_event_ended();
  EXPECT_FALSE(line.free_for_remote());
  sweeping = false;
  line.panel_event_began();
  line.panel_event_ended();
  testing::deliver();
  EXPECT_TRUE(line.free_for_remote());
  EXPECT_EQ(recorder.ended, 2);
}

TEST(GeneratorStateOwner, WithoutAPanelTheRemoteUserOpensThePortAndGetsTheStrayBytes) {
  testing::FakeSerialPort port;
  SharedLine line{port, SharedLine::Owner::remote};
  struct Reader final : LineUser {
    void replied(const LineReply& reply) override { read += reply.text; }
    void read_failed(const PortError&) override {}
    std::string read;
  } reader;
  line.hear(Face::remote, &reader);
  const std::string& read = reader.read;
  line.remote().set_PortOpen(true);
  EXPECT_TRUE(port.open);
  EXPECT_EQ(line.state().port(), PortState::open);
  port.receive("late R");
  EXPECT_EQ(read, "late R");
}

}  // namespace
}  // namespace talmir880
