// The panel serving its SCPI instrument to a real pyvisa client, on the
// simulator: what the script does shows on the window, what the hand does
// shows in the script's queries.
#include <QProcess>

#include "e2e/panel_on_sim.hpp"

namespace talmir880::testing {
namespace {

class ScriptedBench : public PanelOnSim {
 protected:
  ScriptedBench() { serve = true; }

  void SetUp() override {
    PanelOnSim::SetUp();
    start_sim();
    driver_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    driver_.start(TALMIR880_PYTHON,
                  {TALMIR880_VISA_DRIVER,
                   QString("TCPIP::127.0.0.1::%1::SOCKET").arg(serving->server.port())});
    ASSERT_TRUE(driver_.waitForStarted(5000));
  }
  void TearDown() override {
    driver_.closeWriteChannel();
    run_until([this] { return driver_.state() == QProcess::NotRunning; }, 3000);
    driver_.kill();
    driver_.waitForFinished(1000);
    PanelOnSim::TearDown();
  }

  // One step of the script; the event loop runs while pyvisa waits.
  std::string script(const std::string& kind, const std::string& text) {
    driver_.write((kind + " " + text + "\n").c_str());
    EXPECT_TRUE(run_until([this] { return driver_.canReadLine(); }, 8000)) << text;
    return driver_.readLine().trimmed().toStdString();
  }
  std::string write(const std::string& text) { return script("w", text); }
  std::string query(const std::string& text) { return script("q", text); }

 private:
  QProcess driver_;
};

TEST_F(ScriptedBench, AScriptsFrequencyShowsAndTheHandStepsFromIt) {
  open_port();
  EXPECT_EQ(write("OUTP ON;:FREQ 433.92 MHZ"), "ok");
  ASSERT_TRUE(sim->wait_for("$F043392000 RF 433920000 Hz"));
  EXPECT_EQ(query("*OPC?"), "1");
  EXPECT_EQ(text_of("Label_RF"), "RF 0 433.920 000 MHz");
  pick("Combo2", 3);  // 1 MHz
  click("Command18");
  ASSERT_TRUE(sim->wait_for("$F043492000 RF 434920000 Hz"));
  ASSERT_TRUE(run_until([&] { return !form.Timer1.Enabled(); })) << "acknowledged";
  EXPECT_EQ(query("FREQ?;:OUTP?"), "434920000;1");
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(ScriptedBench, LevelsGoBothWaysAndNothingIsSentTwice) {
  open_port();
  pick("Combo1", 2);
  ASSERT_TRUE(sim->wait_for("$P1 LEVEL -9 dBm"));
  ASSERT_TRUE(run_until([&] { return !form.Timer1.Enabled(); })) << "acknowledged";
  EXPECT_EQ(query("POW?"), "-9");
  EXPECT_EQ(write("POW -12"), "ok");
  ASSERT_TRUE(sim->wait_for("$P0 LEVEL -12 dBm"));
  EXPECT_EQ(query("*OPC?"), "1");
  EXPECT_EQ(widget<QComboBox>("Combo1").currentIndex(), 3);
  pick("Combo1", 3);
  settle(600);
  EXPECT_EQ(sim->count("$P"), 2u) << "the level shown is the level the device holds";
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(ScriptedBench, AScriptsPassMovesTheBar) {
  open_port();
  EXPECT_EQ(write("OUTP ON;:FREQ:STAR 100 MHZ;STOP 500 MHZ;:SWE:POIN 2000;:FREQ:MODE SWE;:INIT"),
            "ok");
  ASSERT_TRUE(sim->wait_for("$W010000000000200102000 SWEEP"));
  EXPECT_EQ(form.Text_sample.Text(), " 2000");
  ASSERT_TRUE(run_until([&] { return widget<QProgressBar>("ProgressBar_sweep").value() > 10; }));
  EXPECT_FALSE(widget<QPushButton>("Command_signal").isEnabled());
  EXPECT_EQ(query("*OPC?;:STAT:OPER:COND?"), "1;0");
  ASSERT_TRUE(run_until([&] { return widget<QPushButton>("Command_signal").isEnabled(); }));
  EXPECT_EQ(widget<QProgressBar>("ProgressBar_sweep").value(), 100);
}

// A script's switch-off the stalled device never took: the window keeps
// what the device last took, OUTP? answers 1, until a switch-off is answered.
TEST_F(ScriptedBench, AScriptsLostSwitchOffLeavesTheWindowAsItWas) {
  open_port();
  EXPECT_EQ(write("FREQ 433.92 MHZ;:OUTP ON"), "ok");
  ASSERT_TRUE(sim->wait_for("$F043392000 RF 433920000 Hz"));
  EXPECT_EQ(query("*OPC?"), "1");
  ASSERT_EQ(text_of("Label_RF"), "RF 0 433.920 000 MHz");
  const std::size_t offs = sim->count("$F000000001");
  ASSERT_TRUE(sim->signal(SIGSTOP));
  EXPECT_EQ(query("OUTP OFF;*OPC?"), "1");
  EXPECT_EQ(query("SYST:ERR?"), "-240,\"Hardware error;no acknowledge\"");
  EXPECT_EQ(query("OUTP?;:STAT:QUES:COND?"), "1;1536");
  EXPECT_EQ(text_of("Label_RF"), "RF 0 433.920 000 MHz") << "never off while it may be on";
  ASSERT_TRUE(sim->signal(SIGCONT));
  ASSERT_TRUE(sim->wait_for("$F000000001 RF OFF", offs + 1));
  EXPECT_TRUE(run_until([&] { return text_of("Label_RF") == "RF OFF"; }));
  EXPECT_EQ(query("OUTP?;:STAT:QUES:COND?"), "0;0");
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(ScriptedBench, TheScriptIsToldWhenThePortIsClosedOrThePortIsPulled) {
  EXPECT_EQ(write("POW -6"), "ok");
  EXPECT_EQ(query("SYST:ERR?"), "-241,\"Hardware missing;port closed\"");
  open_port();
  EXPECT_EQ(query("POW -6;*OPC?"), "1");
  sim->stop();
  ASSERT_TRUE(run_until([&] { return !boxes.shown.empty(); }));
  settle(600);
  EXPECT_EQ(boxes.shown.size(), 1u) << "one box for the pulled adapter";
  EXPECT_EQ(query("POW -9;:SYST:ERR?"), "-241,\"Hardware missing;device gone\"");
}

}  // namespace
}  // namespace talmir880::testing
