#include "support/panel_fixture.hpp"

namespace talmir880::testing {
namespace {

using Writes = std::vector<std::string>;

class StepTest : public PanelTest {
 protected:
  StepTest() { open_port(); }
  // Captures what STEP+ or STEP- hands to Send_entry: the entry line just
  // before it is rewritten, seen through the watcher of the text box.
  std::string entry_given(Button& button) {
    std::vector<std::string> texts;
    form.Text_send.on_change([&] { texts.push_back(form.Text_send.Text()); });
    button.click();
    form.Text_send.on_change(nullptr);
    return texts.empty() ? "" : texts.front();
  }
};

TEST_F(StepTest, StepSizesByIndex) {
  const double steps[] = {1e9, 1e8, 1e7, 1e6, 1e5, 1e4, 1e3, 100, 10, 1};
  for (int i = 0; i < 10; ++i) {
    form.Combo2.pick(i);
    EXPECT_EQ(form.tuning.vfo_step, steps[i]);
  }
}

struct StepCase {
  int step_index;
  bool up;
  const char* entry;  // decides RF or MOD
  const char* given;
  Writes written;
};

TEST_F(StepTest, WorkedExamplesFromTheDesignCaptions) {
  const StepCase cases[] = {
      {0, true, "RF", "RF 1100000000Hz", {"$F110000000"}},
      {1, false, "RF", "RF 0Hz", {"$F000000001"}},
      {0, false, "RF", "RF 100000000Hz", {"$F010000000"}},
      {6, true, "MOD", "MOD 2000Hz", {"$M0002000"}},
      {2, true, "MOD", "MOD 1000Hz", {"$M0001000"}},
      {6, false, "MOD", "MOD 0Hz", {"$M0000000"}},
      {0, true, "RFMOD", "RF 1100000000Hz", {"$F110000000"}},
  };
  for (const StepCase& c : cases) {
    SCOPED_TRACE(c.given);
    form.Label_RF.set_Caption("RF 0 100.000 000MHz");
    form.Label_MOD.set_Caption("MOD 0 001.000kHz");
    form.Combo2.pick(c.step_index);
    form.Text_send.set_Text(c.entry);
    port.written.clear();
    EXPECT_EQ(entry_given(c.up ? form.Command18 : form.Command19), c.given);
    EXPECT_EQ(port.written, c.written);
  }
}

TEST_F(StepTest, StepPlusStopsAtTheUpperLimits) {
  form.Text_send.set_Text("RF 4GHz");
  form.tuning.Send_entry();
  form.Combo2.pick(0);
  form.Command18.click();
  EXPECT_EQ(form.Label_RF.Caption(), "RF 5 000.000 000 MHz") << "5 GHz itself is allowed";
  form.Combo2.pick(9);
  port.written.clear();
  form.Command18.click();
  EXPECT_EQ(form.Label_RF.Caption(), "RF 5 000.000 000 MHz");
  EXPECT_EQ(port.written, Writes{"$F500000000"}) << "sent again unchanged";

  form.Text_send.set_Text("MOD 8.5MHz");
  form.tuning.Send_entry();
  form.Combo2.pick(4);
  for (int i = 0; i < 7; ++i) form.Command18.click();
  EXPECT_EQ(form.Label_MOD.Caption(), "MOD 9 000.000 kHz");
}

TEST_F(StepTest, StepMinusOntoZeroSwitchesOffAndBelowStaysOff) {
  form.Text_send.set_Text("RF 3kHz");
  form.tuning.Send_entry();
  form.Combo2.pick(6);
  for (int i = 0; i < 3; ++i) form.Command19.click();
  EXPECT_EQ(form.Label_RF.Caption(), "RF OFF");
  EXPECT_EQ(port.written.back(), "$F000000001");
  form.Command19.click();  // from OFF: -step is below 0, so 0 again
  EXPECT_EQ(form.Label_RF.Caption(), "RF OFF");
  form.Command18.click();  // from OFF: on at one step
  EXPECT_EQ(form.Label_RF.Caption(), "RF 0 000.001 000 MHz");
}

TEST_F(StepTest, OneHertzStepsShowEveryHertzButSendTensOnly) {
  form.Text_send.set_Text("RF 100000008Hz");
  form.tuning.Send_entry();
  form.Combo2.pick(9);
  port.written.clear();
  for (int i = 0; i < 3; ++i) form.Command18.click();
  EXPECT_EQ(form.Label_RF.Caption(), "RF 0 100.000 011 MHz");
  EXPECT_EQ(port.written, (Writes{"$F010000000", "$F010000001", "$F010000001"}));
  form.Combo2.pick(8);
  port.written.clear();
  form.Command18.click();
  form.Command18.click();
  EXPECT_EQ(port.written, (Writes{"$F010000002", "$F010000003"}));
}

TEST_F(StepTest, WithNeitherKeywordTheButtonsDoNothing) {
  form.Text_send.set_Text("");
  form.Command18.click();
  form.Command19.click();
  EXPECT_EQ(form.Text_send.Text(), "");
  EXPECT_TRUE(port.written.empty());
  EXPECT_FALSE(form.Timer1.Enabled());
}

TEST_F(StepTest, APartlyTypedEntryCountsByItsKeywordOnly) {
  form.Text_send.set_Text("MOD 77");
  form.Combo2.pick(6);
  form.Command18.click();
  EXPECT_EQ(port.written, Writes{"$M0002000"});
}

class SwitchTest : public PanelTest {
 protected:
  SwitchTest() { open_port(); }
};

TEST_F(SwitchTest, RfOffAndBackOnAtTheShownFrequency) {
  form.Text_send.set_Text("RF 433.92MHz");
  form.tuning.Send_entry();
  port.written.clear();
  form.Command21.click();
  EXPECT_EQ(form.Label_RF.Caption(), "RF OFF");
  EXPECT_EQ(form.tuning.rf_saved, "RF 0 433.920 000 MHz");
  form.Command21.click();
  EXPECT_EQ(form.Label_RF.Caption(), "RF 0 433.920 000 MHz");
  EXPECT_EQ(port.written, (Writes{"$F000000001", "$F043392000"}));
  EXPECT_EQ(form.Label_MOD.Caption(), "MOD 0 001.000kHz") << "RF does not touch modulation";
}

TEST_F(SwitchTest, ModTwiceFromTheDesignCaptions) {
  form.Command22.click();
  form.Command22.click();
  EXPECT_EQ(port.written, (Writes{"$M0000000", "$M0001000"}));
  EXPECT_EQ(form.Label_MOD.Caption(), "MOD 0 001.000 kHz");
  EXPECT_EQ(form.Label_RF.Caption(), "RF 0 100.000 000MHz");
}

TEST_F(SwitchTest, DesignCaptionComesBackWithTheDisplayBlank) {
  form.Command21.click();
  form.Command21.click();
  EXPECT_EQ(form.Label_RF.Caption(), "RF 0 100.000 000 MHz");
  EXPECT_EQ(port.written.back(), "$F010000000");
}

TEST_F(SwitchTest, OffByAnEntryThenTheSwitchWithNothingSavedSendsNothing) {
  form.Text_send.set_Text("RF0GHz");
  form.tuning.Send_entry();
  port.written.clear();
  form.Command21.click();
  EXPECT_EQ(form.Text_send.Text(), "");
  EXPECT_TRUE(port.written.empty());
  EXPECT_TRUE(form.Timer1.Enabled()) << "the watchdog tells there was no reply";
}

}  // namespace
}  // namespace talmir880::testing
