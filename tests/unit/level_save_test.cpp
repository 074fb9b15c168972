#include "support/panel_fixture.hpp"

namespace talmir880::testing {
namespace {

using Writes = std::vector<std::string>;

TEST_F(PanelTest, LevelsByIndexAndNeverTheSameLevelTwice) {
  open_port();
  form.Combo1.pick(0);
  EXPECT_TRUE(port.written.empty()) << "the start-up level counts as sent";
  EXPECT_FALSE(form.Timer1.Enabled());
  form.Combo1.pick(1);
  form.Combo1.pick(1);
  form.Combo1.pick(0);
  form.Combo1.pick(2);
  form.Combo1.pick(3);
  EXPECT_EQ(port.written, (Writes{"$P2", "$P3", "$P1", "$P0"}));
  EXPECT_EQ(form.output.level_sent, "$P0");
  clock.advance(1000);
  EXPECT_EQ(boxes.shown.size(), 1u) << "armed by the last change, no reply";
}

TEST_F(PanelTest, ALevelPickedWhileClosedWarnsAndIsWrittenOnceOpen) {
  english();
  form.Combo1.pick(2);
  EXPECT_TRUE(port.written.empty());
  EXPECT_EQ(form.output.level_command, "$P1");
  EXPECT_EQ(form.output.level_sent, "$P3");
  clock.advance(500);
  EXPECT_EQ(texts_shown(), std::vector<std::string>{kNoConnectEn});
  open_port();
  form.Combo1.pick(2);
  EXPECT_EQ(port.written, Writes{"$P1"});
}

TEST_F(PanelTest, ALevelChangeEmptiesWhatWasReceived) {
  open_port();
  port.receive("xyz");
  form.Combo1.pick(0);
  EXPECT_EQ(form.link.receive_data.text(), "xyz") << "an unchanged level touches nothing";
  form.Combo1.pick(3);
  EXPECT_TRUE(form.link.receive_data.empty());
}

TEST_F(PanelTest, SaveAskedInTheCurrentLanguageAndSentByMode) {
  open_port();
  const char* hints[] = {"保存前，需要设置频率、调制、电平、扫频、单点/扫频模式，再按保存按钮！",
                         "保存前，需要設定頻率、調製、電平、掃頻、單點/掃頻模式，再按保存按鈕！",
                         "must be setting frequency&modulate&strength&sweep,then press save!"};
  for (int language = 0; language < 3; ++language) {
    for (int mode = 0; mode < 2; ++mode) {
      form.Combo3.pick(language);
      form.Combo4.pick(mode);
      port.written.clear();
      boxes.shown.clear();
      form.Command24.click();
      ASSERT_EQ(boxes.shown.size(), 1u);
      EXPECT_EQ(boxes.shown[0].text, hints[language]);
      EXPECT_EQ(boxes.shown[0].title, kPanelTitleText);
      EXPECT_EQ(boxes.shown[0].buttons, Buttons::OkCancel);
      EXPECT_EQ(port.written, Writes{mode == 0 ? "$S0" : "$S1"});
      EXPECT_TRUE(form.Timer1.Enabled());
    }
  }
}

TEST_F(PanelTest, CancelWritesArmsAndEmptiesNothing) {
  open_port();
  port.receive("abc");
  boxes.answers.push_back(Answer::Cancel);
  form.Command24.click();
  EXPECT_TRUE(port.written.empty());
  EXPECT_FALSE(form.Timer1.Enabled());
  EXPECT_EQ(form.link.receive_data.text(), "abc");
}

TEST_F(PanelTest, SaveWithThePortClosedWarnsAfter500ms) {
  english();
  form.Command24.click();
  EXPECT_TRUE(port.written.empty());
  clock.advance(499);
  EXPECT_EQ(boxes.shown.size(), 1u);
  clock.advance(1);
  EXPECT_EQ(texts_shown().back(), kNoConnectEn);
}

TEST_F(PanelTest, TheWatchdogIsArmedOnlyAfterTheQuestionIsAnswered) {
  open_port();
  bool armed_while_open = true;
  boxes.while_open = [&] { armed_while_open = form.Timer1.Enabled(); };
  form.Command24.click();
  EXPECT_FALSE(armed_while_open);
}

// The write fault answers the command: no watchdog message after it.
TEST_F(PanelTest, AFailedLevelOrSaveWriteIsToldOnce) {
  english();
  open_port();
  port.fail_write = true;
  form.Combo1.pick(2);
  form.Command24.click();
  clock.advance(2000);
  EXPECT_EQ(texts_shown(), (std::vector<std::string>{
                               "Send data error!",
                               "must be setting frequency&modulate&strength&sweep,then press save!",
                               "Send data error!"}));
  EXPECT_FALSE(form.Timer1.Enabled());
  EXPECT_EQ(form.output.level_sent, "$P3") << "a level that was not written is not taken as sent";
}

}  // namespace
}  // namespace talmir880::testing
