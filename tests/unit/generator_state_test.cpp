// The generator's state as the shared line keeps it: written from what the
// device acknowledged, heard by both faces.
#include <gtest/gtest.h>

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
  void port_changed(PortState port, bool came_back) override {
    ports.push_back(port);
    returns += came_back ? 1 : 0;
  }

  std::vector<Heard> heard;
  std::vector<Pass> passes;
  int ended = 0;
  std::vector<PortState> ports;
  int returns = 0;
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
    bool rf_on;
    double rf_hz;
    bool modulation_on;
    double modulation_hz;
    int level_dbm;
  };
  // One after the other: each row is what the device holds once it took it.
  const Row rows[] = {
      {"$F043392000", Fact::rf, true, 433.92e6, false, 1e3, -3},
      {"$M0001000", Fact::modulation, true, 433.92e6, true, 1000, -3},
      {"$P1", Fact::level, true, 433.92e6, true, 1000, -9},
      {"$F000000001", Fact::rf, false, 433.92e6, true, 1000, -9},
      {"$M0000000", Fact::modulation, false, 433.92e6, false, 1000, -9},
      {"$M0012345", Fact::modulation, false, 433.92e6, true, 12345, -9},
  };
  for (const Row& row : rows) {
    line.panel().Output(row.command);
    port.receive("R");
    SCOPED_TRACE(row.command);
    EXPECT_EQ(held().rf_on, row.rf_on);
    EXPECT_EQ(held().rf_hz, row.rf_hz);
    EXPECT_EQ(held().modulation_on, row.modulation_on);
    EXPECT_EQ(held().modulation_hz, row.modulation_hz);
    EXPECT_EQ(held().level_dbm, row.level_dbm);
    ASSERT_FALSE(recorder.heard.empty());
    EXPECT_EQ(recorder.heard.back(), (Heard{row.fact, Face::panel, false}));
  }
  line.panel().Output("$S1");
  port.receive("R");
  EXPECT_EQ(held().saved, protocol::SaveMode::sweep);
}

TEST_F(GeneratorStateTest, OnlyAnAcknowledgedCommandCounts) {
  line.panel().Output("$F043392000");
  EXPECT_FALSE(held().rf_on) << "written, not yet taken";
  port.receive("x");
  EXPECT_FALSE(held().rf_on) << "no R";
  line.panel_gave_up();
  port.receive("R");
  EXPECT_FALSE(held().rf_on) << "an R after the watchdog gave up is nobody's";
  EXPECT_TRUE(recorder.heard.empty());
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
  EXPECT_EQ(held().level_dbm, -6);
}

TEST_F(GeneratorStateTest, ADeviceBackFromAwayCountsItsOutputAndModulationOff) {
  line.panel().Output("$F043392000");
  line.panel().Output("$M0001000");
  port.receive("RR");
  ASSERT_TRUE(held().rf_on && held().modulation_on);

  // Closed and opened by its owner: the device held on meanwhile.
  line.panel().set_PortOpen(false);
  line.panel().set_PortOpen(true);
  EXPECT_TRUE(held().rf_on && held().modulation_on);
  EXPECT_EQ(recorder.returns, 0);

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
  EXPECT_EQ(recorder.returns, 1);
  EXPECT_FALSE(held().rf_on);
  EXPECT_FALSE(held().modulation_on);
  EXPECT_EQ(held().rf_hz, 433.92e6) << "the frequency it was tuned to stays known";
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
  EXPECT_FALSE(line.state().pass().has_value());
  EXPECT_EQ(recorder.ended, 1);

  // The hand's pass holds the line until its own sweep says it is over.
  bool sweeping = true;
  line.panel_sweeping = [&sweeping] { return sweeping; };
  line.panel_event_began();
  line.panel().Output(sweep);
  line.panel_event_ended();
  EXPECT_FALSE(line.free_for_remote());
  sweeping = false;
  line.panel_event_began();
  line.panel_event_ended();
  EXPECT_TRUE(line.free_for_remote());
  EXPECT_EQ(recorder.ended, 2);
}

TEST(GeneratorStateOwner, WithoutAPanelTheRemoteUserOpensThePortAndGetsTheStrayBytes) {
  testing::FakeSerialPort port;
  SharedLine line{port, SharedLine::Owner::remote};
  std::string read;
  line.remote().OnComm = [&] { read += line.remote().Input(); };
  line.remote().set_PortOpen(true);
  EXPECT_TRUE(port.open);
  EXPECT_EQ(line.state().port(), PortState::open);
  port.receive("late R");
  EXPECT_EQ(read, "late R");
}

}  // namespace
}  // namespace talmir880
