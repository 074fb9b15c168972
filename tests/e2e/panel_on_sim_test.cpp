#include "e2e/panel_on_sim.hpp"

namespace talmir880::testing {
namespace {

TEST_F(PanelOnSim, KeypadTuningReachesTheDeviceAndIsAcknowledged) {
  start_sim();
  open_port();
  EXPECT_EQ(text_of("Label_COM_state"), "串口打开");
  keys({"Command16", "Command4", "Command3", "Command3", "Command11", "Command9", "Command2",
        "Command14"});
  ASSERT_TRUE(sim->wait_for("$F043392000 RF 433920000 Hz"));
  EXPECT_EQ(text_of("Label_RF"), "RF 0 433.920 000 MHz");
  ASSERT_TRUE(run_until([&] { return !form.Timer1.Enabled(); }));
  settle(600);
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_TRUE(form.link.receive_data.empty());
}

TEST_F(PanelOnSim, LevelSaveAndBothSwitchesReachTheDevice) {
  start_sim();
  open_port();
  pick("Combo1", 1);
  ASSERT_TRUE(sim->wait_for("$P2 LEVEL -6 dBm"));
  click("Command21");
  ASSERT_TRUE(sim->wait_for("$F000000001 RF OFF"));
  click("Command22");
  ASSERT_TRUE(sim->wait_for("$M0000000 MOD OFF"));
  click("Command21");
  ASSERT_TRUE(sim->wait_for("$F010000000 RF 100000000 Hz"));
  pick("Combo4", 1);
  click("Command24");
  ASSERT_TRUE(sim->wait_for("$S1 SAVE mode=sweep"));
  EXPECT_EQ(boxes.shown.size(), 1u) << "only the save question";
  settle(600);
  EXPECT_EQ(boxes.shown.size(), 1u) << "every command acknowledged";
}

TEST_F(PanelOnSim, ASinglePassOf500PointsCompletes) {
  start_sim();
  open_port();
  click("Command_signal");
  ASSERT_TRUE(sim->wait_for("$W010000000000800000500 SWEEP"));
  EXPECT_FALSE(widget<QPushButton>("Command_signal").isEnabled());
  ASSERT_TRUE(run_until([&] { return widget<QPushButton>("Command_signal").isEnabled(); }, 5000));
  EXPECT_EQ(widget<QProgressBar>("ProgressBar_sweep").value(), 100);
  EXPECT_EQ(form.ProgressBar_sweep.Value(), 100.0f);
  EXPECT_TRUE(widget<QPushButton>("Command_cont").isEnabled());
  EXPECT_FALSE(form.Timer_sweep.Enabled());
  EXPECT_EQ(form.Text_star.Text(), " 100 MHz");
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(PanelOnSim, AContinuousSweepRunsPassAfterPassUntilStopSweep) {
  start_sim();
  open_port();
  type("Text_sample", "50");
  click("Command_cont");
  ASSERT_TRUE(sim->wait_for("$W", 3));
  click("Command_stop");
  ASSERT_TRUE(run_until([&] { return widget<QPushButton>("Command_signal").isEnabled(); }));
  const std::size_t passes = sim->count("$W");
  settle(300);
  EXPECT_EQ(sim->count("$W"), passes) << "no pass after the one STOP SWEEP let finish";
  EXPECT_TRUE(widget<QPushButton>("Command_cont").isEnabled());
  EXPECT_FALSE(form.Timer_sweep.Enabled());
}

TEST_F(PanelOnSim, ASilentDeviceBringsTheMessageOncePerCommand) {
  start_sim({"--silent"});
  pick("Combo3", 2);
  open_port();
  keys({"Command16", "Command1", "Command14"});
  ASSERT_TRUE(sim->wait_for("$F000100000"));
  settle(700);
  EXPECT_EQ(shown(), std::vector<std::string>{"no connect,operate error!"});
  EXPECT_EQ(boxes.shown[0].title, "TALMIR-880控制软件");
  pick("Combo1", 2);
  settle(700);
  EXPECT_EQ(shown().size(), 2u);
}

TEST_F(PanelOnSim, ALowerCaseAcknowledgementIsNoAcknowledgement) {
  start_sim({"--lowercase"});
  open_port();
  keys({"Command17", "Command1", "Command13"});
  ASSERT_TRUE(sim->wait_for("$M0001000"));
  settle(700);
  EXPECT_EQ(shown(), std::vector<std::string>{"没有连机，操作错误！"});
}

TEST_F(PanelOnSim, AnAcknowledgementSplitOverTwoWritesCounts) {
  start_sim({"--split-ack", "100"});
  open_port();
  keys({"Command17", "Command1", "Command13"});
  ASSERT_TRUE(sim->wait_for("$M0001000"));
  settle(700);
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(PanelOnSim, TheDesignedPortAndSpeedReachTheSimulatorsLink) {
  start_sim();
  EXPECT_EQ(widget<QComboBox>("COM_Combo").currentText(), "COM9");
  EXPECT_EQ(widget<QComboBox>("BAU_Combo").currentText(), "57600");
  open_port();
  click("Command_uart_port_closed");
  EXPECT_FALSE(port.PortOpen());
  EXPECT_EQ(text_of("Label_COM_state"), "串口关闭");
  open_port();
}

}  // namespace
}  // namespace talmir880::testing
