// One generator, two faces: the panel serving the SCPI instrument on its own
// line. What a script does shows on the panel as the same change by hand;
// what the hand does shows in the queries; the device's replies are matched
// to the commands in the order they were written.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/served_panel.hpp"
#include "support/manual_countdown.hpp"
#include "support/panel_fixture.hpp"

namespace talmir880::testing {
namespace {

using Lines = std::vector<std::string>;

class ServedPanelTest : public PanelTest {
 protected:
  struct Script : scpi::ClientEvents {
    void answer(std::string text) override { answers.push_back(std::move(text)); }
    Lines answers;
  };

  ServedPanelTest() {
    watchdog.ran_out = [this] { served.instrument().watchdog_ran_out(); };
    quiet.ran_out = [this] { served.instrument().quiet_ran_out(); };
    client = *served.instrument().attach(script);
  }

  // A line of the script; its answer, if any came before the device
  // answered.
  std::string remote(const std::string& line) {
    const std::size_t before = script.answers.size();
    served.instrument().submit(client, line);
    deliver();
    return script.answers.size() > before ? script.answers.back() : "";
  }
  // Nothing is known of a port the hand opened: the script's first device
  // command goes after the switch-off. Here that is done and forgotten.
  void script_settles() {
    remote("OUTP OFF;:OUTP:MOD OFF");
    device_answers();
    port.written.clear();
  }
  // A pass is RF on: the script's OUTP ON first, its command forgotten.
  void script_switches_output_on() {
    remote("OUTP ON");
    device_answers();
    port.written.clear();
  }
  // The device acknowledges whatever waits for it, the script's and the
  // panel's alike, one R each.
  void device_answers() {
    for (int i = 0; i < 20 && (watchdog.running() || form.Timer1.Enabled()); ++i) {
      port.receive("R");
    }
  }
  Lines written_since(std::size_t from) const {
    return {port.written.begin() + static_cast<std::ptrdiff_t>(from), port.written.end()};
  }

  ManualCountdown watchdog, stall, quiet, reopen;
  ServedPanel served{form, {watchdog, stall, quiet, reopen}};
  Script script;
  ClientId client = 0;
};

// The same frequency from the keypad and from a script: the same bytes on
// the line, the same labels and entry line left behind.
TEST_F(ServedPanelTest, AScriptsChangeLeavesThePanelAsTheKeypadWould) {
  struct Case {
    std::string line;           // the script's
    std::vector<Button*> keys;  // the hand's, on a second panel
  };
  FakeSerialPort other_port;
  ScriptedBoxes other_boxes;
  Form1 other{other_port, other_boxes};
  other.Form_Load();
  other.Command_uart_port_open.click();
  open_port();
  remote("OUTP ON;:OUTP:MOD ON");
  device_answers();
  for (Button* key : {&other.Command16, &other.Command1, &other.Command10, &other.Command10,
                      &other.Command14, &other.Command17, &other.Command1, &other.Command13}) {
    other.run([key] { key->click(); });
  }
  ASSERT_GE(port.written.size(), 2u);
  EXPECT_EQ(Lines(port.written.begin(), port.written.begin() + 2),
            (Lines{"$F000000001", "$M0000000"}))
      << "the switch-off first: nothing is known of a port the hand opened";
  EXPECT_EQ(other_port.written, written_since(2));

  const Case cases[] = {
      {"FREQ 433.92 MHZ",
       {&other.Command16, &other.Command4, &other.Command3, &other.Command3, &other.Command11,
        &other.Command9, &other.Command2, &other.Command14}},
      {"LFO:FREQ 2.5 KHZ",
       {&other.Command17, &other.Command2, &other.Command11, &other.Command5, &other.Command13}},
      {"FREQ 2.45 GHZ",
       {&other.Command16, &other.Command2, &other.Command11, &other.Command4, &other.Command5,
        &other.Command12}},
      {"OUTP OFF", {&other.Command21}},
      {"OUTP:MOD OFF", {&other.Command22}},
      {"OUTP:MOD ON", {&other.Command22}},
  };
  for (const Case& c : cases) {
    const std::size_t mine = port.written.size();
    const std::size_t theirs = other_port.written.size();
    remote(c.line);
    device_answers();
    for (Button* key : c.keys) other.run([key] { key->click(); });
    other_port.receive("R");
    EXPECT_EQ(written_since(mine),
              Lines(other_port.written.begin() + static_cast<std::ptrdiff_t>(theirs),
                    other_port.written.end()))
        << c.line;
    EXPECT_EQ(form.Label_RF.Caption(), other.Label_RF.Caption()) << c.line;
    EXPECT_EQ(form.Label_MOD.Caption(), other.Label_MOD.Caption()) << c.line;
    EXPECT_EQ(form.Text_send.Text(), other.Text_send.Text()) << c.line;
  }
  // A level, and the flash, from both faces.
  EXPECT_EQ(remote("POW -9;:FREQ:MODE SWE;*SAV 0;:FREQ:MODE CW;*OPC?"), "");
  device_answers();
  other.Combo1.pick(2);
  other.Combo4.pick(1);
  other.run([&other] { other.Command24.click(); });
  EXPECT_EQ(written_since(port.written.size() - 2), (Lines{"$P1", "$S1"}));
  EXPECT_EQ(Lines(other_port.written.end() - 2, other_port.written.end()), (Lines{"$P1", "$S1"}));
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(ServedPanelTest, StepPlusStepsFromWhatAScriptSet) {
  open_port();
  remote("OUTP ON;:FREQ 433.92 MHZ");
  device_answers();
  EXPECT_EQ(form.Label_RF.Caption(), "RF 0 433.920 000 MHz");
  form.Combo2.pick(3);  // 1 MHz
  press({&form.Command18});
  EXPECT_EQ(port.written.back(), "$F043492000");
  port.receive("R");
  EXPECT_EQ(remote("FREQ?"), "434920000") << "and the hand's step shows in the query";
}

TEST_F(ServedPanelTest, ALevelFromAScriptIsShownAndNotSentAgain) {
  open_port();
  remote("POW -12");
  device_answers();
  EXPECT_EQ(form.Combo1.ListIndex(), 3);
  const std::size_t after = port.written.size();
  form.Combo1.pick(3);
  EXPECT_EQ(port.written.size(), after) << "the level shown is the level written";
  form.Combo1.pick(2);
  EXPECT_EQ(port.written.back(), "$P1");
  port.receive("R");
  EXPECT_EQ(remote("POW?"), "-9");
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(ServedPanelTest, TheButtonsOwnThePort) {
  EXPECT_EQ(remote("POW -6;:SYST:ERR?"), "-241,\"Hardware missing;port closed\"");
  EXPECT_EQ(port.open_attempts, 0) << "nothing opened behind the panel's back";
  EXPECT_EQ(remote("*TST?"), "1");
  open_port();
  remote("POW -6");
  device_answers();
  EXPECT_EQ(port.written, (Lines{"$F000000001", "$M0000000", "$P2"}));
}

// The device's R carries no tag: replies go to the commands in the order
// they were written, each R to one command.
TEST_F(ServedPanelTest, AHandActionInsideAScriptsExchangeTakesTheNextR) {
  open_port();
  script_settles();
  remote("POW -6");
  form.Combo1.pick(2);  // the hand is never held back
  EXPECT_EQ(port.written, (Lines{"$P2", "$P1"}));
  port.receive("R");
  EXPECT_FALSE(watchdog.running()) << "the first R is the script's";
  EXPECT_TRUE(form.Timer1.Enabled()) << "and not the panel's";
  port.receive("R");
  EXPECT_FALSE(form.Timer1.Enabled());
  EXPECT_EQ(remote("POW?"), "-9");
  EXPECT_EQ(form.Combo1.ListIndex(), 2) << "the hand wrote last, and the list shows it";

  // One R for two commands: the script's is answered, the panel waits on.
  remote("POW -12");
  form.Combo1.pick(1);
  EXPECT_EQ(written_since(2), (Lines{"$P0", "$P2"}));
  port.receive("R");
  clock.advance(500);
  EXPECT_EQ(boxes.shown.size(), 1u) << "the panel's watchdog, as ever";
  EXPECT_EQ(remote("POW?;:SYST:ERR?"), "-12;0,\"No error\"");
}

TEST_F(ServedPanelTest, AScriptsCommandWaitsWhileThePanelsExchangeOrBoxIsOpen) {
  open_port();
  script_settles();
  Script other;
  const ClientId asking = *served.instrument().attach(other);
  form.Combo1.pick(1);  // the panel waits for its R
  remote("POW -9");
  EXPECT_EQ(port.written, Lines{"$P2"});
  served.instrument().submit(asking, "*IDN?");
  deliver();
  EXPECT_EQ(other.answers.size(), 1u) << "queries answer meanwhile";
  port.receive("R");
  EXPECT_EQ(port.written.back(), "$P1") << "the line is free again";
  port.receive("R");

  // A box keeps the line the panel's until its handler returns.
  boxes.while_open = [&] {
    remote("POW -6");
    EXPECT_EQ(port.written.back(), "$P1");
    served.instrument().submit(asking, "FREQ:STAR?");
    deliver();
    EXPECT_EQ(other.answers.back(), "100000000");
  };
  form.run([this] { form.Command24.click(); });  // the save question
  deliver();
  EXPECT_EQ(port.written.back(), "$S0");
  port.receive("R");
  EXPECT_EQ(port.written.back(), "$P2");
}

// Served or not, a hand sweep leaves the fields as the panel writes them,
// whatever the server reads from the same bytes.
TEST_F(ServedPanelTest, AHandSweepLeavesTheFieldsAsThePanelAloneWould) {
  open_port();
  form.Text_star.type("26.7");
  form.Text_end.type("3777MHz");
  form.Text_sample.type("5");
  press({&form.Command_signal});
  EXPECT_EQ(remote("FREQ:STOP?"), "3026940000") << "the last point the device reaches";
  EXPECT_EQ(form.Text_star.Text(), " 26.7 MHz");
  EXPECT_EQ(form.Text_end.Text(), " 3777 MHz");
  EXPECT_EQ(form.Text_sample.Text(), " 5");
}

TEST_F(ServedPanelTest, APanelPassIsSeenByTheQueriesAndWaitedForByOpc) {
  open_port();
  script_settles();
  form.Text_sample.type("5");
  press({&form.Command_signal});
  EXPECT_EQ(port.written.back(), "$W010000000080000000005");
  EXPECT_EQ(remote("STAT:OPER:COND?;:FREQ:MODE?;STAR?;STOP?;:SWE:POIN?"),
            "8;SWE;100000000;420000000;5")
      << "the panel's last point is the SCPI stop";
  EXPECT_EQ(form.Text_end.Text(), " 500 MHz") << "the hand's fields, by the panel's rules";
  EXPECT_EQ(remote("POW -6;POW?;*OPC?"), "") << "*OPC? waits for the panel's pass";
  port.receive(std::string(20, '.'));
  clock.advance(50);  // the panel's sweep tick sees the end
  deliver();
  EXPECT_EQ(port.written.back(), "$P2") << "sent once the pass is over";
  port.receive("R");
  EXPECT_EQ(script.answers.back(), "-6;1");
}

TEST_F(ServedPanelTest, AScriptsPassMovesTheBarAndTheButtons) {
  open_port();
  script_switches_output_on();
  remote("FREQ:STAR 200 MHZ;STOP 300 MHZ;:SWE:POIN 5");
  EXPECT_EQ(form.Text_star.Text(), " 200 MHz");
  EXPECT_EQ(form.Text_end.Text(), " 325 MHz") << "the panel's end, a step past the stop";
  EXPECT_EQ(form.Text_sample.Text(), " 5");
  remote("FREQ:MODE SWE;:INIT:CONT ON");
  EXPECT_EQ(port.written.back(), "$W020000000025000000005");
  EXPECT_FALSE(form.Command_signal.Enabled());
  EXPECT_FALSE(form.Command_cont.Enabled()) << "repeating looks like CONT";
  port.receive(std::string(10, '.'));
  EXPECT_FLOAT_EQ(form.ProgressBar_sweep.Value(), 50);
  EXPECT_FALSE(form.Timer_sweep.Enabled()) << "the panel's own sweep stays idle";
  remote("ABOR");
  port.receive(std::string(10, '.'));
  quiet.run_out();
  EXPECT_TRUE(form.Command_signal.Enabled());
  EXPECT_TRUE(form.Command_cont.Enabled());
  EXPECT_EQ(port.written.size(), 1u);
}

TEST_F(ServedPanelTest, StopSweepOnThePanelEndsAScriptsRepetition) {
  open_port();
  script_switches_output_on();
  remote("SWE:POIN 5;:FREQ:MODE SWE;:INIT:CONT ON");
  press({&form.Command_stop});
  EXPECT_EQ(remote("INIT:CONT?"), "0");
  port.receive(std::string(20, '.'));
  quiet.run_out();
  EXPECT_EQ(port.written.size(), 1u) << "the running pass ended, and no other began";
  EXPECT_TRUE(form.Command_signal.Enabled());
}

TEST_F(ServedPanelTest, APulledAdapterIsOneBoxOnThePanelAndHardwareMissingForTheScript) {
  open_port();
  script_switches_output_on();
  remote("POW -6");
  port.fail_read = true;
  port.receive("x");
  EXPECT_EQ(boxes.shown.size(), 1u);
  port.fail_read = false;
  EXPECT_EQ(remote("SYST:ERR?"), "-241,\"Hardware missing;device gone\"");
  // Plugged back and opened by hand: the device may have been reset, or
  // not. Nothing is written until someone acts.
  const std::size_t before = port.written.size();
  press({&form.Command_uart_port_closed, &form.Command_uart_port_open});
  EXPECT_EQ(remote("OUTP?;:POW?;:STAT:QUES:COND?"), "1;-3;1536");
  EXPECT_EQ(port.written.size(), before);
}

TEST_F(ServedPanelTest, RemoteWithLockoutLocksTheWindowUntilLocalOrTheClientLeaves) {
  remote("SYST:RWL");
  EXPECT_FALSE(form.form.Enabled());
  EXPECT_TRUE(form.Command1.Enabled()) << "each control keeps its own state";
  remote("SYST:LOC");
  EXPECT_TRUE(form.form.Enabled());
  remote("SYST:RWL");
  served.instrument().detach(client);
  deliver();
  EXPECT_TRUE(form.form.Enabled());
}

}  // namespace
}  // namespace talmir880::testing
