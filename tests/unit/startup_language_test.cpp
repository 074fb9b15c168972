#include <string>
#include <vector>

#include "support/panel_fixture.hpp"

namespace talmir880::testing {
namespace {

using Items = std::vector<std::string>;

TEST_F(PanelTest, StartUpLeavesTheInventoryAsDesigned) {
  EXPECT_EQ(form.form.Caption(), "TALMIR-880控制软件 KELDOR 2016-01-08");
  EXPECT_EQ(form.Command_uart_port_open.Caption(), "打开串口");
  EXPECT_EQ(form.Command_uart_port_closed.Caption(), "关闭串口");
  EXPECT_EQ(form.Label_COM_state.Caption(), "串口关闭");
  EXPECT_EQ(form.Label_COM_state.ForeColor(), kBlack);
  EXPECT_EQ(form.Text_send.Text(), "RF 1 000.000 000MHz");
  EXPECT_EQ(form.Label_RF.Caption(), "RF 0 100.000 000MHz");
  EXPECT_EQ(form.Label_MOD.Caption(), "MOD 0 001.000kHz");
  EXPECT_EQ(form.Text_star.Text(), "100MHz");
  EXPECT_EQ(form.Text_end.Text(), "500MHz");
  EXPECT_EQ(form.Text_sample.Text(), "500");
  EXPECT_EQ(form.ProgressBar_sweep.Value(), 50.0f);

  const std::pair<Button*, const char*> keys[] = {{&form.Command1, "1"},
                                                  {&form.Command2, "2"},
                                                  {&form.Command3, "3"},
                                                  {&form.Command4, "4"},
                                                  {&form.Command5, "5"},
                                                  {&form.Command6, "6"},
                                                  {&form.Command7, "7"},
                                                  {&form.Command8, "8"},
                                                  {&form.Command9, "9"},
                                                  {&form.Command10, "0"},
                                                  {&form.Command11, "●"},
                                                  {&form.Command12, "GHz"},
                                                  {&form.Command13, "kHz"},
                                                  {&form.Command14, "MHz"},
                                                  {&form.Command15, "Hz"},
                                                  {&form.Command16, "射频"},
                                                  {&form.Command17, "调制"},
                                                  {&form.Command23, "清除"},
                                                  {&form.Command18, "步进+"},
                                                  {&form.Command19, "步进-"},
                                                  {&form.Command21, "射频 开/关"},
                                                  {&form.Command22, "调制 开/关"},
                                                  {&form.Command24, "保存到FLASH"},
                                                  {&form.Command_signal, "单次"},
                                                  {&form.Command_cont, "连续"},
                                                  {&form.Command_stop, "停止扫描"}};
  for (auto [button, caption] : keys) {
    EXPECT_EQ(button->Caption(), caption) << button->name();
    EXPECT_TRUE(button->Enabled()) << button->name();
  }
  const std::pair<Label*, const char*> labels[] = {
      {&form.Label2, "步进"},         {&form.Label1, "射频电平"},    {&form.Label3, "保存模式"},
      {&form.Label_language, "语言"}, {&form.Label_star, "开始"},    {&form.Label_end, "结束"},
      {&form.Label_sample, "采样"},   {&form.Label_progress, "进度"}};
  for (auto [label, caption] : labels) EXPECT_EQ(label->Caption(), caption) << label->name();

  EXPECT_EQ(form.COM_Combo.items(), (Items{"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",
                                           "COM8", "COM9", "COM10"}));
  EXPECT_EQ(form.COM_Combo.ListIndex(), 8);
  EXPECT_EQ(form.BAU_Combo.items(),
            (Items{"300", "600", "1200", "2400", "4800", "9600", "19200", "38400", "57600"}));
  EXPECT_EQ(form.BAU_Combo.ListIndex(), 8);
  EXPECT_EQ(form.Combo1.items(), (Items{"-3dBm", "-6dBm", "-9dBm", "-12dBm"}));
  EXPECT_EQ(form.Combo1.ListIndex(), 0);
  EXPECT_EQ(form.Combo2.items(), (Items{"1GHz", "100MHz", "10MHz", "1MHz", "100kHz", "10kHz",
                                        "1kHz", "100Hz", "10Hz", "1Hz"}));
  EXPECT_EQ(form.Combo2.ListIndex(), 0);
  EXPECT_EQ(form.Combo3.items(), (Items{"简体中文", "繁体中文", "ENGLISH"}));
  EXPECT_EQ(form.Combo3.ListIndex(), 0);
  EXPECT_EQ(form.Combo4.items(), (Items{"单点", "扫频"}));
  EXPECT_EQ(form.Combo4.ListIndex(), 0);

  EXPECT_EQ(form.tuning.vfo_step, 1000000000.0);
  EXPECT_EQ(form.output.level_command, "$P3");
  EXPECT_EQ(form.output.level_sent, "$P3");
  EXPECT_EQ(form.port_open_text, "串口打开");
  EXPECT_EQ(form.port_closed_text, "串口关闭");
  EXPECT_EQ(form.save_hint,
            "保存前，需要设置频率、调制、电平、扫频、单点/扫频模式，再按保存按钮！");
  EXPECT_TRUE(form.tuning.rf_saved.empty());
  EXPECT_TRUE(form.link.receive_data.empty());

  EXPECT_FALSE(form.Timer1.Enabled());
  EXPECT_FALSE(form.Timer_sweep.Enabled());
  EXPECT_FALSE(port.open);
  EXPECT_EQ(port.open_calls, 0);
  EXPECT_TRUE(port.written.empty());
  clock.advance(5000);
  EXPECT_TRUE(boxes.shown.empty()) << "start-up arms nothing";
}

TEST_F(PanelTest, StartUpCanRunWhileTheLevelHandlerSeesAnEmptyLevelSent) {
  // A second window whose level list is picked before level_sent exists:
  // nothing is armed and nothing written, even with the port open.
  FakeSerialPort other;
  other.open = true;
  Form1 fresh(other, boxes);
  ManualClock c;
  c.attach(fresh.Timer1);
  fresh.Form_Load();
  c.advance(1000);
  // Exact comparison with the empty level_sent: the level is written, and no
  // watchdog is armed for it.
  EXPECT_EQ(other.written, (std::vector<std::string>{"$P3"}));
  EXPECT_TRUE(boxes.shown.empty());
}

struct LanguageColumn {
  int index;
  const char* title;
  std::vector<const char*>
      buttons;  // open, closed, signal, cont, stop, 23, 24, 22, 21, 18, 19, 16, 17
  std::vector<const char*> labels;  // star, end, sample, progress, language, 1, 2, 3
  const char* single;
  const char* sweep;
  const char* open_text;
  const char* closed_text;
  const char* save_hint;
};

const LanguageColumn kColumns[] = {
    {0,
     "TALMIR-880控制软件 KELDOR 2016-01-08",
     {"打开串口", "关闭串口", "单次", "连续", "停止扫描", "清除", "保存到FLASH", "调制 开/关",
      "射频 开/关", "步进+", "步进-", "射频", "调制"},
     {"开始", "结束", "采样", "进度", "语言", "射频电平", "步进", "保存模式"},
     "单点",
     "扫频",
     "串口打开",
     "串口关闭",
     "保存前，需要设置频率、调制、电平、扫频、单点/扫频模式，再按保存按钮！"},
    {1,
     "TALMIR-880控制軟體 KELDOR 2016-01-08",
     {"打開串口", "關閉串口", "單次", "連續", "停止掃描", "清除", "保存到FLASH", "調製開/關",
      "射頻開/關", "步進+", "步進-", "射頻", "調製"},
     {"開始", "結束", "採樣", "進度", "語言", "射頻電平", "步進", "保存模式"},
     "單點",
     "掃頻",
     "串口打開",
     "串口關閉",
     "保存前，需要設定頻率、調製、電平、掃頻、單點/掃頻模式，再按保存按鈕！"},
    {2,
     "TALMIR-880 control software KELDOR 2016-01-08",
     {"PORT OPEN", "PORT CLOSED", "SIGNAL", "CONT", "STOP SWEEP", "CLS", "SAVE FLASH", "MOD ON/OFF",
      "RF ON/OFF", "STEP+", "STEP-", "RF", "MOD"},
     {"STAR", "END", "SAM", "PRO", "LANG", "RF LEVEL", "STEP", "SAVE MODE"},
     "VFO",
     "SWEEP",
     "PORT OPEN",
     "PORT CLOSED",
     "must be setting frequency&modulate&strength&sweep,then press save!"},
};

TEST_F(PanelTest, EachLanguageColumnByteForByte) {
  for (const LanguageColumn& col : kColumns) {
    form.Combo4.pick(1);
    form.Combo3.pick(col.index);
    SCOPED_TRACE(col.index);
    EXPECT_EQ(form.form.Caption(), col.title);
    Button* buttons[] = {&form.Command_uart_port_open,
                         &form.Command_uart_port_closed,
                         &form.Command_signal,
                         &form.Command_cont,
                         &form.Command_stop,
                         &form.Command23,
                         &form.Command24,
                         &form.Command22,
                         &form.Command21,
                         &form.Command18,
                         &form.Command19,
                         &form.Command16,
                         &form.Command17};
    for (std::size_t i = 0; i < col.buttons.size(); ++i) {
      EXPECT_EQ(buttons[i]->Caption(), col.buttons[i]) << buttons[i]->name();
    }
    Label* labels[] = {&form.Label_star,     &form.Label_end,      &form.Label_sample,
                       &form.Label_progress, &form.Label_language, &form.Label1,
                       &form.Label2,         &form.Label3};
    for (std::size_t i = 0; i < col.labels.size(); ++i) {
      EXPECT_EQ(labels[i]->Caption(), col.labels[i]) << labels[i]->name();
    }
    EXPECT_EQ(form.Combo4.items(), (Items{col.single, col.sweep}));
    EXPECT_EQ(form.Combo4.ListIndex(), 1) << "the save mode survives a switch";
    EXPECT_EQ(form.port_open_text, col.open_text);
    EXPECT_EQ(form.port_closed_text, col.closed_text);
    EXPECT_EQ(form.save_hint, col.save_hint);
    EXPECT_EQ(form.Label_COM_state.Caption(), col.closed_text);
    // Nothing outside the column changes.
    EXPECT_EQ(form.Command14.Caption(), "MHz");
    EXPECT_EQ(form.Combo3.items(), (Items{"简体中文", "繁体中文", "ENGLISH"}));
    EXPECT_EQ(form.Combo1.items()[0], "-3dBm");
  }
}

TEST_F(PanelTest, PortStateLabelKeepsOpenOrClosedAcrossSwitchesAndItsColour) {
  open_port();
  ASSERT_EQ(form.Label_COM_state.Caption(), "串口打开");
  english();
  EXPECT_EQ(form.Label_COM_state.Caption(), "PORT OPEN");
  EXPECT_EQ(form.Label_COM_state.ForeColor(), kRed);
  form.Combo3.pick(1);
  EXPECT_EQ(form.Label_COM_state.Caption(), "串口打開");
  form.Combo3.pick(0);
  EXPECT_EQ(form.Label_COM_state.Caption(), "串口打开");
  form.Command_uart_port_closed.click();
  english();
  EXPECT_EQ(form.Label_COM_state.Caption(), "PORT CLOSED");
  EXPECT_EQ(form.Label_COM_state.ForeColor(), kBlack);
  english();  // the same language again changes nothing
  EXPECT_EQ(form.Label_COM_state.Caption(), "PORT CLOSED");
}

TEST_F(PanelTest, AfterSwitchingToEnglishOpeningShowsTheEnglishOpenText) {
  english();
  open_port();
  EXPECT_EQ(form.Label_COM_state.Caption(), "PORT OPEN");
  EXPECT_EQ(form.Label_COM_state.ForeColor(), kRed);
}

TEST_F(PanelTest, TheSecondLanguageRunChangesNothing) {
  std::vector<std::string> before;
  for (Control* c : form.controls()) {
    if (auto* b = dynamic_cast<Button*>(c)) before.push_back(b->Caption());
    if (auto* l = dynamic_cast<Label*>(c)) before.push_back(l->Caption());
  }
  form.Combo3_Click();
  std::vector<std::string> after;
  for (Control* c : form.controls()) {
    if (auto* b = dynamic_cast<Button*>(c)) after.push_back(b->Caption());
    if (auto* l = dynamic_cast<Label*>(c)) after.push_back(l->Caption());
  }
  EXPECT_EQ(before, after);
  // The window and its 53 controls but the serial port.
  EXPECT_EQ(form.controls().size(), 53u);
}

}  // namespace
}  // namespace talmir880::testing
