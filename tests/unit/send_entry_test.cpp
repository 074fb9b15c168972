#include "support/panel_fixture.hpp"

namespace talmir880::testing {
namespace {

using Writes = std::vector<std::string>;

constexpr const char* kRfDesign = "RF 0 100.000 000MHz";
constexpr const char* kModDesign = "MOD 0 001.000kHz";

struct EntryCase {
  const char* entry;
  Writes written;
  const char* rf_after;
  const char* mod_after;
  const char* entry_after;
  const char* rf_before = kRfDesign;
  const char* mod_before = kModDesign;
};

const EntryCase kCases[] = {
    // The worked examples.
    {"RF 100MHz", {"$F010000000"}, "RF 0 100.000 000 MHz", kModDesign, "RF 0 100.000 000 MHz"},
    {"RF 2.45GHz", {"$F245000000"}, "RF 2 450.000 000 MHz", kModDesign, "RF 2 450.000 000 MHz"},
    {"RF 433.92MHz", {"$F043392000"}, "RF 0 433.920 000 MHz", kModDesign, "RF 0 433.920 000 MHz"},
    {"RF 12.5kHz", {"$F000001250"}, "RF 0 000.012 500 MHz", kModDesign, "RF 0 000.012 500 MHz"},
    {"RF 1 000.000 000MHzMHz",
     {"$F100000000"},
     "RF 1 000.000 000 MHz",
     kModDesign,
     "RF 1 000.000 000 MHz"},
    {"RF MHz", {"$F010000000"}, "RF 0 100.000 000 MHz", kModDesign, "RF 0 100.000 000 MHz"},
    {"RF0GHz", {"$F000000001"}, "RF OFF", kModDesign, "RF OFF"},
    {"MOD 1kHz", {"$M0001000"}, kRfDesign, "MOD 0 001.000 kHz", "MOD 0 001.000 kHz"},
    {"MOD 2.5kHz", {"$M0002500"}, kRfDesign, "MOD 0 002.500 kHz", "MOD 0 002.500 kHz"},
    {"MOD 400Hz", {"$M0000400"}, kRfDesign, "MOD 0 000.400 kHz", "MOD 0 000.400 kHz"},
    {"MOD0MHz", {"$M0000000"}, kRfDesign, "MOD OFF", "MOD OFF"},
    // Re-send forms and the off captions.
    {"RF MHz",
     {"$F100000000"},
     "RF 1 000.000 000 MHz",
     kModDesign,
     "RF 1 000.000 000 MHz",
     "RF OFF"},
    {"RF Hz",
     {"$F043392000"},
     "RF 0 433.920 000 MHz",
     kModDesign,
     "RF 0 433.920 000 MHz",
     "RF 0 433.920 000 MHz"},
    {"MOD kHz", {"$M0000000"}, kRfDesign, "MOD OFF", "MOD OFF", kRfDesign, "MOD OFF"},
    {"MOD GHz", {"$M0001000"}, kRfDesign, "MOD 0 001.000 kHz", "MOD 0 001.000 kHz"},
    // Units, points and digits.
    {"MOD 5", {"$M0000000"}, kRfDesign, "MOD OFF", "MOD OFF"},
    {"RF 25", {"$F100000000"}, "RF 1 000.000 000 MHz", kModDesign, "RF 1 000.000 000 MHz"},
    {"RF 5KHz", {"$F000000000"}, "RF 0 000.000 005 MHz", kModDesign, "RF 0 000.000 005 MHz"},
    {"RF 1.5.3MHz", {"$F000150000"}, "RF 0 001.500 000 MHz", kModDesign, "RF 0 001.500 000 MHz"},
    {"RF 100000005Hz", {"$F010000000"}, "RF 0 100.000 005 MHz", kModDesign, "RF 0 100.000 005 MHz"},
    {"RF 0.4Hz", {"$F000000000"}, "RF 0 000.000 000 MHz", kModDesign, "RF 0 000.000 000 MHz"},
    {"RF 10Hz", {"$F000000001"}, "RF 0 000.000 010 MHz", kModDesign, "RF 0 000.000 010 MHz"},
    {"RF 19.4Hz", {"$F000000001"}, "RF 0 000.000 019 MHz", kModDesign, "RF 0 000.000 019 MHz"},
    {"RF 15GHz", {"$F150000000"}, "RF 1 500.000 000 MHz", kModDesign, "RF 1 500.000 000 MHz"},
    {"MOD 10MHz", {"$M10000000"}, kRfDesign, "MOD 1 000.000 kHz", "MOD 1 000.000 kHz"},
    {"RF abcMHz", {"$F000000001"}, "RF OFF", kModDesign, "RF OFF"},
    {" R F 1 0 0 M H z", {}, kRfDesign, kModDesign, " R F 1 0 0 M H z"},
    {"RF1 0 0 M Hz", {"$F010000000"}, "RF 0 100.000 000 MHz", kModDesign, "RF 0 100.000 000 MHz"},
    // Both keywords: RF wins.
    {"RFMOD 5kHz", {"$F000000001"}, "RF OFF", kModDesign, "RF OFF"},
    {"RF MOD 5kHz", {"$F010000000"}, "RF 0 100.000 000 MHz", kModDesign, "RF 0 100.000 000 MHz"},
    // Neither keyword: nothing sent, nothing changes.
    {"100MHz", {}, kRfDesign, kModDesign, "100MHz"},
    {"", {}, kRfDesign, kModDesign, ""},
};

class SendEntryTest : public PanelTest {};

TEST_F(SendEntryTest, WorkedExamplesWithThePortOpen) {
  for (const EntryCase& c : kCases) {
    SCOPED_TRACE(c.entry);
    form.Label_RF.set_Caption(c.rf_before);
    form.Label_MOD.set_Caption(c.mod_before);
    form.Text_send.set_Text(c.entry);
    form.Timer1.set_Enabled(false);
    port.written.clear();
    open_port();
    port.receive("abc");
    form.tuning.Send_entry();
    EXPECT_EQ(port.written, c.written);
    EXPECT_EQ(form.Label_RF.Caption(), c.rf_after);
    EXPECT_EQ(form.Label_MOD.Caption(), c.mod_after);
    EXPECT_EQ(form.Text_send.Text(), c.entry_after);
    EXPECT_TRUE(form.Timer1.Enabled()) << "armed on every call";
    EXPECT_TRUE(form.link.receive_data.empty());
  }
}

TEST_F(SendEntryTest, WithThePortClosedTheLabelsChangeAndNothingIsWritten) {
  for (const EntryCase& c : kCases) {
    SCOPED_TRACE(c.entry);
    form.Label_RF.set_Caption(c.rf_before);
    form.Label_MOD.set_Caption(c.mod_before);
    form.Text_send.set_Text(c.entry);
    form.tuning.Send_entry();
    EXPECT_TRUE(port.written.empty());
    EXPECT_EQ(form.Label_RF.Caption(), c.rf_after);
    EXPECT_EQ(form.Label_MOD.Caption(), c.mod_after);
    EXPECT_TRUE(form.Timer1.Enabled());
  }
}

TEST_F(SendEntryTest, EachKeyAppendsOrReplacesItsText) {
  const std::pair<Button*, const char*> appending[] = {
      {&form.Command1, "1"}, {&form.Command2, "2"},  {&form.Command3, "3"}, {&form.Command4, "4"},
      {&form.Command5, "5"}, {&form.Command6, "6"},  {&form.Command7, "7"}, {&form.Command8, "8"},
      {&form.Command9, "9"}, {&form.Command10, "0"}, {&form.Command11, "."}};
  for (auto [key, text] : appending) {
    form.Text_send.set_Text("RF 4");
    key->click();
    EXPECT_EQ(form.Text_send.Text(), std::string("RF 4") + text) << key->name();
  }
  form.Command16.click();
  EXPECT_EQ(form.Text_send.Text(), "RF ");
  form.Command17.click();
  EXPECT_EQ(form.Text_send.Text(), "MOD ");
  form.Command23.click();
  EXPECT_EQ(form.Text_send.Text(), "");
  EXPECT_FALSE(form.Timer1.Enabled()) << "only the unit keys send";
}

struct KeyCase {
  std::vector<Button Form1::*> keys;
  Writes written;
  const char* entry_after;
};

TEST_F(SendEntryTest, KeySequences) {
  using F = Form1;
  const KeyCase cases[] = {
      {{&F::Command16, &F::Command1, &F::Command10, &F::Command10, &F::Command14},
       {"$F010000000"},
       "RF 0 100.000 000 MHz"},
      {{&F::Command17, &F::Command2, &F::Command11, &F::Command5, &F::Command13},
       {"$M0002500"},
       "MOD 0 002.500 kHz"},
      {{&F::Command23, &F::Command1, &F::Command10, &F::Command10, &F::Command14}, {}, "100MHz"},
      {{&F::Command16, &F::Command1, &F::Command11, &F::Command5, &F::Command11, &F::Command3,
        &F::Command14},
       {"$F000150000"},
       "RF 0 001.500 000 MHz"},
      {{&F::Command14}, {"$F100000000"}, "RF 1 000.000 000 MHz"},
      // A unit straight after a send: MHz, kHz and Hz send the shown value again.
      {{&F::Command16, &F::Command4, &F::Command14, &F::Command13},
       {"$F000400000", "$F000400000"},
       "RF 0 004.000 000 MHz"},
      {{&F::Command16, &F::Command4, &F::Command14, &F::Command15},
       {"$F000400000", "$F000400000"},
       "RF 0 004.000 000 MHz"},
      {{&F::Command16, &F::Command4, &F::Command14, &F::Command12},
       {"$F000400000", "$F400000000"},
       "RF 4 000.000 000 MHz"},
      {{&F::Command17, &F::Command4, &F::Command13, &F::Command15},
       {"$M0004000", "$M0004000"},
       "MOD 0 004.000 kHz"},
      {{&F::Command17, &F::Command4, &F::Command13, &F::Command14},
       {"$M0004000", "$M4000000"},
       "MOD 4 000.000 kHz"},
      {{&F::Command16, &F::Command13}, {"$F010000000"}, "RF 0 100.000 000 MHz"},
      {{&F::Command17, &F::Command15}, {"$M0001000"}, "MOD 0 001.000 kHz"},
  };
  open_port();
  for (const KeyCase& c : cases) {
    Form1 fresh(port, boxes);
    fresh.Form_Load();
    port.written.clear();
    for (auto key : c.keys) (fresh.*key).click();
    EXPECT_EQ(port.written, c.written);
    EXPECT_EQ(fresh.Text_send.Text(), c.entry_after);
  }
}

TEST_F(SendEntryTest, ValuesBeyondTheDeviceAreRefusedOnceWithNoWatchdogMessage) {
  english();
  open_port();
  for (const char* entry : {"RF 1e400MHz", "MOD 9e307GHz", "RF -5MHz", "MOD -1Hz"}) {
    SCOPED_TRACE(entry);
    boxes.shown.clear();
    form.Text_send.set_Text(entry);
    form.tuning.Send_entry();
    clock.advance(2000);
    EXPECT_TRUE(port.written.empty());
    EXPECT_EQ(texts_shown(), std::vector<std::string>{"Frequency out of range!"});
    EXPECT_EQ(boxes.shown[0].title, kPanelTitleText);
    EXPECT_EQ(form.Label_RF.Caption(), kRfDesign);
    EXPECT_EQ(form.Label_MOD.Caption(), kModDesign);
    EXPECT_EQ(form.Text_send.Text(), entry);
  }
  form.Combo3.pick(0);
  form.Text_send.set_Text("RF 1e400MHz");
  form.tuning.Send_entry();
  EXPECT_EQ(boxes.shown.back().text, "频率超出范围！");
  form.Combo3.pick(1);
  form.tuning.Send_entry();
  EXPECT_EQ(boxes.shown.back().text, "頻率超出範圍！");
}

TEST_F(SendEntryTest, ANegativeZeroIsTheOffForm) {
  open_port();
  form.Text_send.set_Text("RF -0MHz");
  form.tuning.Send_entry();
  EXPECT_EQ(port.written, Writes{"$F000000001"});
}

TEST_F(SendEntryTest, AWriteToAVanishedDeviceIsToldAndEndsNothing) {
  english();
  open_port();
  port.fail_write = true;
  press({&form.Command16, &form.Command5, &form.Command14});
  EXPECT_EQ(texts_shown(), std::vector<std::string>{"Send data error!"});
  EXPECT_EQ(form.Label_RF.Caption(), "RF 0 005.000 000 MHz");
  port.fail_write = false;
  form.Command_uart_port_closed.click();
  form.Command_uart_port_open.click();
  press({&form.Command16, &form.Command6, &form.Command14});
  EXPECT_EQ(port.written, Writes{"$F000600000"});
}

}  // namespace
}  // namespace talmir880::testing
