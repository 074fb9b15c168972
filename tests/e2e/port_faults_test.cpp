#include "e2e/panel_on_sim.hpp"

namespace talmir880::testing {
namespace {

class PortFaults : public PanelOnSim {
 protected:
  // CPU the panel spends over a quiet window, in milliseconds.
  double cpu_over(int ms) {
    const double before = cpu_ms();
    run_for(ms);
    return cpu_ms() - before;
  }
  // A new simulator under the same name; close and open reach it.
  void recover() {
    sim.reset();
    start_sim();
    boxes.shown.clear();
    click("Command_uart_port_closed");
    open_port();
    keys({"Command16", "Command2", "Command14"});
    ASSERT_TRUE(sim->wait_for("$F000200000"));
    settle(600);
    EXPECT_TRUE(boxes.shown.empty());
  }
};

TEST_F(PortFaults, TheDeviceVanishesWhileIdle) {
  start_sim({"--vanish-after", "2"});
  pick("Combo3", 2);
  open_port();
  keys({"Command16", "Command1", "Command14"});
  ASSERT_TRUE(sim->wait_for("$F000100000"));
  // Its acknowledgement must be in before the next command is armed.
  ASSERT_TRUE(run_until([&] { return !form.Timer1.Enabled(); }));
  pick("Combo1", 1);  // the second command: the device goes
  ASSERT_TRUE(sim->wait_for("VANISHED"));
  settle(700);
  EXPECT_EQ(shown(),
            (std::vector<std::string>{"Receive data error!", "no connect,operate error!"}));
  EXPECT_LT(cpu_over(1000), 150.0) << "the dead handle must not be watched";
  EXPECT_EQ(text_of("Label_COM_state"), "PORT OPEN") << "the panel never closes on its own";
  recover();
}

TEST_F(PortFaults, ACommandWrittenAfterTheDeviceWentIsToldOnce) {
  start_sim({"--vanish-after", "1"});
  pick("Combo3", 2);
  open_port();
  keys({"Command16", "Command1", "Command14"});
  ASSERT_TRUE(sim->wait_for("VANISHED"));
  settle(700);
  boxes.shown.clear();
  keys({"Command16", "Command3", "Command14"});
  settle(100);
  EXPECT_EQ(shown(), std::vector<std::string>{"Send data error!"});
  EXPECT_EQ(text_of("Label_RF"), "RF 0 003.000 000 MHz");
  EXPECT_LT(cpu_over(1000), 150.0);
  // The level handler arms the watchdog before it writes: the failed write
  // disarms it, so no second box follows.
  boxes.shown.clear();
  pick("Combo1", 2);
  settle(1000);
  EXPECT_EQ(shown(), std::vector<std::string>{"Send data error!"});
  recover();
}

TEST_F(PortFaults, TheDeviceVanishesDuringASweep) {
  start_sim({"--vanish-after", "2", "--baud", "9600"});
  open_port();
  click("Command_signal");
  ASSERT_TRUE(sim->wait_for("$W"));
  settle(100);
  click("Command22");  // the second command: gone mid-sweep
  ASSERT_TRUE(sim->wait_for("VANISHED"));
  settle(700);
  EXPECT_EQ(boxes.shown.size(), 2u) << "one receive error, one missing acknowledgement";
  EXPECT_LT(cpu_over(1000), 150.0);
  EXPECT_FALSE(form.Timer_sweep.Enabled()) << "the fault ends the sweep";
  EXPECT_TRUE(widget<QPushButton>("Command_signal").isEnabled());
  recover();
  click("Command_cont");  // a new sweep runs; STOP lets it end
  click("Command_stop");
  ASSERT_TRUE(run_until([&] { return widget<QPushButton>("Command_signal").isEnabled(); }, 8000));
}

TEST_F(PortFaults, TheDeviceVanishesDuringAContinuousSweep) {
  start_sim({"--vanish-after", "3", "--baud", "0"});
  pick("Combo3", 2);
  open_port();
  type("Text_sample", "5");
  click("Command_cont");
  ASSERT_TRUE(sim->wait_for("VANISHED", 1, 8000));  // on the third pass's command
  settle(1000);
  EXPECT_EQ(shown(), std::vector<std::string>{"Receive data error!"});
  EXPECT_FALSE(form.Timer_sweep.Enabled());
  EXPECT_TRUE(widget<QPushButton>("Command_signal").isEnabled());
  EXPECT_TRUE(widget<QPushButton>("Command_cont").isEnabled());
  recover();
}

TEST_F(PortFaults, TheDeviceVanishesWhileAMessageBoxIsOpen) {
  start_sim({"--silent", "--vanish-after", "2"});
  open_port();
  keys({"Command16", "Command1", "Command14"});
  // While the no-connect box is open the second command goes out and the
  // device vanishes; the box keeps the event loop running.
  bool first = true;
  boxes.while_open = [this, &first] {
    if (first) {
      first = false;
      pick("Combo1", 3);
      run_for(700);
    } else {
      run_for(30);
    }
  };
  ASSERT_TRUE(run_until([&] { return sim->count("VANISHED") == 1; }, 3000));
  settle(700);
  EXPECT_EQ(boxes.shown.size(), 3u) << "no storm of boxes";
  EXPECT_LT(cpu_over(1000), 150.0);
  recover();
}

}  // namespace
}  // namespace talmir880::testing
