#include "support/panel_fixture.hpp"

namespace talmir880::testing {
namespace {

class LinkTest : public PanelTest {
 protected:
  // Arms the watchdog the way a user does: a tuning request.
  void tune() {
    form.Text_send.set_Text("RF 100MHz");
    form.tuning.Send_entry();
  }
};

TEST_F(LinkTest, AReplySplitOverTwoEventsDisarmsTheWatchdog) {
  open_port();
  tune();
  port.receive("*");
  EXPECT_TRUE(form.Timer1.Enabled());
  EXPECT_EQ(form.link.receive_data.text(), "*");
  port.receive("R*");
  EXPECT_FALSE(form.Timer1.Enabled());
  EXPECT_TRUE(form.link.receive_data.empty());
  clock.advance(2000);
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(LinkTest, ALowerCaseRDoesNotAcknowledgeAndTheMessageComesOnce) {
  english();
  open_port();
  tune();
  port.receive("*r*");
  clock.advance(499);
  EXPECT_TRUE(boxes.shown.empty());
  clock.advance(1);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, kNoConnectEn);
  EXPECT_EQ(boxes.shown[0].title, kPanelTitleText);
  EXPECT_FALSE(form.Timer1.Enabled());
  clock.advance(5000);
  EXPECT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(form.link.receive_data.text(), "*r*") << "the watchdog keeps what was received";
}

TEST_F(LinkTest, TheMessageIsInTheLanguageShownWhenItFires) {
  const char* texts[] = {"没有连机，操作错误！", "沒有連機，操作錯誤！",
                         "no connect,operate error!"};
  for (int armed_in = 0; armed_in < 3; ++armed_in) {
    for (int fired_in = 0; fired_in < 3; ++fired_in) {
      form.Combo3.pick(armed_in);
      tune();
      clock.advance(100);
      form.Combo3.pick(fired_in);
      clock.advance(400);
      EXPECT_EQ(boxes.shown.back().text, texts[fired_in]);
    }
  }
  EXPECT_EQ(boxes.shown.size(), 9u);
}

TEST_F(LinkTest, ACommandWhilePortClosedWritesNothingAndWarnsAfter500ms) {
  english();
  tune();
  EXPECT_TRUE(port.written.empty());
  EXPECT_EQ(form.Label_RF.Caption(), "RF 0 100.000 000 MHz");
  clock.advance(500);
  EXPECT_EQ(texts_shown(), std::vector<std::string>{kNoConnectEn});
}

TEST_F(LinkTest, AnRWhileIdleEmptiesTheReceivedText) {
  port.receive("abc");
  EXPECT_EQ(form.link.receive_data.text(), "abc");
  port.receive("R");
  EXPECT_TRUE(form.link.receive_data.empty());
  EXPECT_FALSE(form.Timer1.Enabled());
}

TEST_F(LinkTest, CharactersWithoutAnRCollectUntilASenderEmptiesThem) {
  for (int i = 0; i < 100; ++i) port.receive("abcd");
  EXPECT_EQ(form.link.receive_data.size(), 400u);
  tune();
  EXPECT_TRUE(form.link.receive_data.empty());
}

TEST_F(LinkTest, AReceiveErrorIsToldWithTheApplicationTitle) {
  const char* texts[] = {"接收数据出错！", "接收數據出錯！", "Receive data error!"};
  open_port();
  port.receive("ab");
  tune();
  port.receive("cd");
  port.fail_read = true;
  for (int i = 0; i < 3; ++i) {
    form.Combo3.pick(i);
    port.receive("R");
    EXPECT_EQ(boxes.shown.back().text, texts[i]);
    EXPECT_EQ(boxes.shown.back().title, "TALMIR-880");
  }
  EXPECT_EQ(form.link.receive_data.text(), "cd");
  EXPECT_TRUE(form.Timer1.Enabled());
}

TEST_F(LinkTest, TheWatchdogCannotFireAgainWhileItsMessageIsOpen) {
  tune();
  boxes.while_open = [&] { clock.advance(3000); };
  clock.advance(500);
  EXPECT_EQ(boxes.shown.size(), 1u);
}

TEST_F(LinkTest, RearmingGivesTheLatestCommandAFull500ms) {
  open_port();
  tune();
  clock.advance(400);
  tune();
  clock.advance(400);
  EXPECT_TRUE(boxes.shown.empty());
  clock.advance(100);
  EXPECT_EQ(boxes.shown.size(), 1u);
}

// The line finds the R in the chunk itself, so one past what receive_data
// keeps of its text still acknowledges, and the count goes on meanwhile.
TEST_F(LinkTest, AnRPastTheKeptTextStillAcknowledges) {
  open_port();
  tune();
  const std::string chunk(1000, 'x');
  for (int i = 0; i < 100; ++i) port.receive(chunk);
  EXPECT_EQ(form.link.receive_data.size(), 100000u);
  EXPECT_EQ(form.link.receive_data.text().size(), ReceiveText::kKept);
  EXPECT_TRUE(form.Timer1.Enabled());
  port.receive("..R");
  EXPECT_FALSE(form.Timer1.Enabled());
  EXPECT_TRUE(form.link.receive_data.empty());
  EXPECT_TRUE(form.link.receive_data.text().empty());
}

}  // namespace
}  // namespace talmir880::testing
