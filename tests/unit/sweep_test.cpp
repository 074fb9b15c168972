#include <cmath>

#include "support/panel_fixture.hpp"

namespace talmir880::testing {
namespace {

using Writes = std::vector<std::string>;

struct SetupCase {
  const char* star;
  const char* end;
  const char* sample;
  const char* command;
  const char* star_after;
  const char* end_after;
  const char* sample_after;
};

TEST_F(PanelTest, SweepSetupExamples) {
  const SetupCase cases[] = {
      {"100MHz", "500MHz", "500", "$W010000000000800000500", " 100 MHz", " 500 MHz", " 500"},
      {"50", "3000", "9999", "$W005000000000295039999", " 50 MHz", " 3000 MHz", " 9999"},
      {"50", "3000", "10000", "$W005000000000295039999", " 50 MHz", " 3000 MHz", " 9999"},
      {"50", "3000", "9999.5", "$W005000000000295039999", " 50 MHz", " 3000 MHz", " 9999"},
      {"0", "0.5", "4000", "$W000000000000000134000", " 0 MHz", " .5 MHz", " 4000"},
      {"500", "100", "500", "$W050000000-000800000500", " 500 MHz", " 100 MHz", " 500"},
      {"433.92", "433.92", "5", "$W043392000000000000005", " 433.92 MHz", " 433.92 MHz", " 5"},
      {"100", "200", "500pts", "$W010000000000200000500", " 100 MHz", " 200 MHz", " 500"},
      {"100.000005", "100.000005", "5", "$W010000001000000000005", " 100.000005 MHz",
       " 100.000005 MHz", " 5"},
  };
  open_port();
  for (const SetupCase& c : cases) {
    SCOPED_TRACE(c.command);
    form.Timer_sweep.set_Enabled(false);
    form.Command_signal.set_Enabled(true);
    form.Text_star.set_Text(c.star);
    form.Text_end.set_Text(c.end);
    form.Text_sample.set_Text(c.sample);
    port.written.clear();
    port.receive("junk");
    form.Command_signal.click();
    EXPECT_EQ(port.written, Writes{c.command});
    EXPECT_EQ(form.Text_star.Text(), c.star_after);
    EXPECT_EQ(form.Text_end.Text(), c.end_after);
    EXPECT_EQ(form.Text_sample.Text(), c.sample_after);
    EXPECT_TRUE(form.link.receive_data.empty());
    EXPECT_TRUE(form.Timer_sweep.Enabled());
    EXPECT_FALSE(form.Command_signal.Enabled());
    EXPECT_TRUE(form.Command_cont.Enabled());
    EXPECT_FALSE(form.Timer1.Enabled()) << "a sweep arms no watchdog";
  }
  EXPECT_DOUBLE_EQ(form.sweep.sweep_step, 0);
}

TEST_F(PanelTest, SweepStepValues) {
  open_port();
  form.Command_signal.click();
  EXPECT_EQ(form.sweep.sweep_start, 100e6);
  EXPECT_EQ(form.sweep.sweep_end, 500e6);
  EXPECT_EQ(form.sweep.sweep_samples, 500);
  EXPECT_EQ(form.sweep.sweep_step, 800000);
}

TEST_F(PanelTest, SweepWithThePortClosedNormalisesAndBlocks) {
  form.Command_signal.click();
  EXPECT_TRUE(port.written.empty());
  EXPECT_EQ(form.Text_star.Text(), " 100 MHz");
  EXPECT_FALSE(form.Timer_sweep.Enabled());
  EXPECT_FALSE(form.Command_signal.Enabled());
  clock.advance(2000);
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(PanelTest, ASweepThatCannotBeComputedIsRefusedAndSignalStaysUsable) {
  english();
  open_port();
  struct Case {
    const char* star;
    const char* end;
    const char* sample;
  } cases[] = {{"100", "500", "0"},      {"100", "500", ""},     {"100", "500", "abc"},
               {"1e400", "500", "500"},  {"100", "-1e400", "5"}, {"-1e302", "1e302", "1e-300"},
               {"100", "500", "-1E400"}, {"100", "500", "-5"},   {"100", "500", "0.0001"},
               {"100", "500", "0.4999"}, {"-100", "500", "500"}, {"100", "-500", "500"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sample);
    boxes.shown.clear();
    form.Text_star.set_Text(c.star);
    form.Text_end.set_Text(c.end);
    form.Text_sample.set_Text(c.sample);
    form.Command_signal.click();
    EXPECT_TRUE(port.written.empty());
    EXPECT_EQ(texts_shown(), std::vector<std::string>{"Sweep setting error!"});
    EXPECT_TRUE(form.Command_signal.Enabled());
    EXPECT_TRUE(form.Command_cont.Enabled());
    EXPECT_FALSE(form.Timer_sweep.Enabled());
    EXPECT_EQ(form.Text_sample.Text(), c.sample) << "the fields keep what was typed";
  }
}

class SweepRunTest : public PanelTest {
 protected:
  SweepRunTest() { open_port(); }
  void device_sends(std::size_t chars) { port.receive(std::string(chars, '0')); }
  void tick() { clock.advance(50); }
  enum State { Idle, Single, Continuous, Blocked, BlockedContinuous, Other };
  State state() const {
    bool t = form.Timer_sweep.Enabled(), s = form.Command_signal.Enabled(),
         c = form.Command_cont.Enabled();
    if (!t && s && c) return Idle;
    if (t && !s && c) return Single;
    if (t && !s && !c) return Continuous;
    if (!t && !s && c) return Blocked;
    if (!t && !s && !c) return BlockedContinuous;
    return Other;
  }
};

TEST_F(SweepRunTest, ProgressFollowsTheCharactersAndAPassEnds) {
  form.Command_signal.click();
  EXPECT_EQ(state(), Single);
  tick();
  EXPECT_EQ(form.ProgressBar_sweep.Value(), 0.0f);
  device_sends(1000);
  tick();
  EXPECT_EQ(form.ProgressBar_sweep.Value(), 50.0f);
  device_sends(999);
  tick();
  EXPECT_EQ(form.ProgressBar_sweep.Value(), 99.95f);
  EXPECT_EQ(state(), Single) << "99.95 is not 100";
  device_sends(1);
  tick();
  EXPECT_EQ(form.ProgressBar_sweep.Value(), 100.0f);
  EXPECT_EQ(state(), Idle);
  EXPECT_EQ(port.written.size(), 1u);
}

TEST_F(SweepRunTest, TheBarShows50UntilTheFirstTick) {
  form.Command_signal.click();
  EXPECT_EQ(form.ProgressBar_sweep.Value(), 50.0f);
}

TEST_F(SweepRunTest, AContinuousSweepSendsTheNextPassFromTheFieldsAsTheyAre) {
  form.Command_cont.click();
  EXPECT_EQ(state(), Continuous);
  device_sends(2000);
  form.Text_sample.set_Text("5");
  tick();
  EXPECT_EQ(state(), Continuous);
  EXPECT_EQ(port.written, (Writes{"$W010000000000800000500", "$W010000000080000000005"}));
  EXPECT_EQ(form.ProgressBar_sweep.Value(), 100.0f);
  tick();
  EXPECT_EQ(form.ProgressBar_sweep.Value(), 0.0f);
  device_sends(20);
  tick();
  EXPECT_EQ(port.written.size(), 3u);
}

TEST_F(SweepRunTest, StopSweepLetsTheRunningPassFinish) {
  form.Command_cont.click();
  device_sends(1000);
  form.Command_stop.click();
  EXPECT_EQ(state(), Single);
  device_sends(1000);
  tick();
  EXPECT_EQ(state(), Idle);
  EXPECT_EQ(port.written.size(), 1u);
}

TEST_F(SweepRunTest, ContDuringASinglePassRestartsAtOnce) {
  form.Command_signal.click();
  device_sends(1000);
  form.Command_cont.click();  // CONT is enabled during a single pass
  EXPECT_EQ(state(), Continuous);
  EXPECT_EQ(port.written.size(), 2u);
  EXPECT_TRUE(form.link.receive_data.empty());
}

TEST_F(SweepRunTest, AnRDuringAPassDropsTheProgressToZero) {
  form.Command_signal.click();
  device_sends(1000);
  port.receive("R");
  tick();
  EXPECT_EQ(form.ProgressBar_sweep.Value(), 0.0f);
  device_sends(2000);
  tick();
  EXPECT_EQ(state(), Idle);
}

TEST_F(SweepRunTest, PortClosedDuringAContinuousSweepRetriesEveryTickUntilStop) {
  form.Command_cont.click();
  form.Command_uart_port_closed.click();
  device_sends(2000);  // what was already on its way
  for (int i = 0; i < 5; ++i) tick();
  EXPECT_EQ(state(), Continuous);
  EXPECT_EQ(port.written.size(), 1u);
  EXPECT_EQ(form.Text_star.Text(), " 100 MHz");
  form.Command_stop.click();
  tick();
  EXPECT_EQ(state(), Idle);
}

TEST_F(SweepRunTest, TransitionsThroughTheBlockedStates) {
  form.Command_uart_port_closed.click();
  form.Command_signal.click();
  EXPECT_EQ(state(), Blocked);
  form.Command_stop.click();
  EXPECT_EQ(state(), Blocked);
  form.Command_cont.click();
  EXPECT_EQ(state(), BlockedContinuous);
  form.Command_stop.click();
  EXPECT_EQ(state(), Blocked);
  form.Command_cont.click();
  open_port();
  form.Command_cont.Click();  // the button is disabled; code may still run it
  EXPECT_EQ(state(), Continuous);
  form.Command_stop.click();
  device_sends(2000);
  tick();
  EXPECT_EQ(state(), Idle);
}

TEST_F(SweepRunTest, ASilentDeviceShowsNoMessageAndTheBarStays) {
  form.Command_signal.click();
  device_sends(400);
  for (int i = 0; i < 100; ++i) tick();
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(form.ProgressBar_sweep.Value(), 20.0f);
  EXPECT_EQ(state(), Single);
}

TEST_F(SweepRunTest, OvershootAndOddSampleCountsNeverBreakTheBar) {
  form.Text_sample.set_Text("4.5");  // sent as 5, 20 characters come back
  form.Command_signal.click();
  device_sends(20);
  tick();
  EXPECT_EQ(form.ProgressBar_sweep.Value(), 100.0f);
  EXPECT_EQ(state(), Idle);

  form.Text_sample.set_Text("-5");
  form.Command_signal.click();
  EXPECT_EQ(port.written.size(), 1u) << "no pass of negative points is sent";
  EXPECT_EQ(texts_shown(), std::vector<std::string>{"扫描参数错误！"});
  EXPECT_EQ(state(), Idle);
}

TEST_F(SweepRunTest, HalfAPointIsOnePassOfOnePoint) {
  form.Text_sample.set_Text("0.5");
  form.Command_signal.click();
  EXPECT_EQ(port.written.back(), "$W010000000800000000001");
  device_sends(4);
  tick();
  EXPECT_EQ(state(), Idle);
}

// The user hears of a lost device once, and the sweep stops trying.
TEST_F(SweepRunTest, APortFaultEndsAContinuousSweepWithOneMessage) {
  english();
  for (bool on_read : {true, false}) {
    SCOPED_TRACE(on_read ? "read fault" : "write fault");
    boxes.shown.clear();
    port.fail_read = port.fail_write = false;
    form.Command_cont.click();
    const std::size_t sent = port.written.size();
    device_sends(2000);  // the whole pass; then the device goes
    port.fail_write = true;
    if (on_read) {
      port.fail_read = true;
      port.receive("");
    }
    for (int i = 0; i < 20; ++i) tick();
    EXPECT_EQ(texts_shown(),
              std::vector<std::string>{on_read ? "Receive data error!" : "Send data error!"});
    EXPECT_EQ(port.written.size(), sent);
    EXPECT_EQ(state(), Idle);
  }
}

TEST_F(SweepRunTest, AContinuousSweepWhoseNextPassCannotBeComputedStopsOnce) {
  form.Command_cont.click();
  form.Text_sample.set_Text("0");
  device_sends(2000);
  for (int i = 0; i < 10; ++i) tick();
  EXPECT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(state(), Idle);
  EXPECT_EQ(port.written.size(), 1u);
}

}  // namespace
}  // namespace talmir880::testing
