#include "connection/port_connection.hpp"

#include "support/panel_fixture.hpp"

namespace talmir880::testing {
namespace {

TEST_F(PanelTest, EverySpeedGivesItsSettingsString) {
  const char* expected[] = {"300,n,8,1",  "600,n,8,1",   "1200,n,8,1",  "2400,n,8,1", "4800,n,8,1",
                            "9600,n,8,1", "19200,n,8,1", "38400,n,8,1", "57600,n,8,1"};
  for (int i = 0; i < 9; ++i) {
    form.BAU_Combo.pick(i);
    form.Command_uart_port_open.click();
    EXPECT_EQ(port.settings, expected[i]);
    form.Command_uart_port_closed.click();
  }
}

TEST_F(PanelTest, PortNumberIsTheIndexPlusOne) {
  for (int i : {0, 8, 9}) {
    form.COM_Combo.pick(i);
    form.Command_uart_port_open.click();
    EXPECT_EQ(port.comm_port, i + 1);
    form.Command_uart_port_closed.click();
  }
}

TEST_F(PanelTest, OpenAndCloseSetTheLabelInColour) {
  open_port();
  EXPECT_EQ(form.Label_COM_state.Caption(), "串口打开");
  EXPECT_EQ(form.Label_COM_state.ForeColor(), kRed);
  EXPECT_TRUE(port.written.empty()) << "opening sends nothing";
  form.Command_uart_port_closed.click();
  EXPECT_FALSE(port.open);
  EXPECT_EQ(form.Label_COM_state.Caption(), "串口关闭");
  EXPECT_EQ(form.Label_COM_state.ForeColor(), kBlack);
}

TEST_F(PanelTest, OpeningAnOpenPortOnlyRewritesTheLabel) {
  open_port();
  form.COM_Combo.pick(2);
  form.BAU_Combo.pick(0);
  form.Label_COM_state.set_ForeColor(kBlack);
  english();
  form.Command_uart_port_open.click();
  EXPECT_EQ(port.open_calls, 1);
  EXPECT_EQ(port.comm_port, 9);
  EXPECT_EQ(port.settings, "57600,n,8,1");
  EXPECT_EQ(form.Label_COM_state.Caption(), "PORT OPEN");
  EXPECT_EQ(form.Label_COM_state.ForeColor(), kRed);
}

TEST_F(PanelTest, ClosingAClosedPortChangesNothing) {
  form.Label_COM_state.set_ForeColor(kRed);
  form.Command_uart_port_closed.click();
  EXPECT_EQ(port.open_calls, 0);
  EXPECT_EQ(form.Label_COM_state.ForeColor(), kRed);
}

TEST_F(PanelTest, AFailedOpenTellsTheUserAndLeavesTheLabel) {
  struct Case {
    bool config, open;
  } cases[] = {{true, false}, {false, true}};
  for (auto c : cases) {
    boxes.shown.clear();
    port.fail_config = c.config;
    port.fail_open = c.open;
    english();
    form.Command_uart_port_open.click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "    COM PORT ERROR!");
    EXPECT_EQ(boxes.shown[0].title, kPanelTitleText);
    EXPECT_EQ(boxes.shown[0].buttons, Buttons::Ok);
    EXPECT_EQ(form.Label_COM_state.Caption(), "PORT CLOSED");
    EXPECT_FALSE(port.open);
  }
  // A later open without the fault works with no other step.
  port.fail_config = port.fail_open = false;
  form.COM_Combo.pick(0);
  form.Command_uart_port_open.click();
  EXPECT_TRUE(port.open);
  EXPECT_EQ(form.Label_COM_state.Caption(), "PORT OPEN");
}

TEST_F(PanelTest, ThePortErrorInEachLanguage) {
  port.fail_open = true;
  const char* texts[] = {"    串口错误！", "    串口錯誤！", "    COM PORT ERROR!"};
  for (int i = 0; i < 3; ++i) {
    form.Combo3.pick(i);
    form.Command_uart_port_open.click();
    EXPECT_EQ(boxes.shown.back().text, texts[i]);
    EXPECT_EQ(boxes.shown.back().title, kPanelTitleText);
  }
}

TEST_F(PanelTest, ClosingAndReopeningKeepsReceivedTextAndWatchdog) {
  open_port();
  form.run([&] { form.Combo1.pick(1); });
  port.receive("xx");
  form.Command_uart_port_closed.click();
  open_port();
  EXPECT_EQ(form.link.receive_data.text(), "xx");
  EXPECT_TRUE(form.Timer1.Enabled());
}

TEST(ParseSettings, RefusesWhatNoPortTakes) {
  EXPECT_EQ(parse_settings("57600,n,8,1").baud, 57600);
  for (const char* bad : {"", "57600", "fast,n,8,1", "9600,x,8,1", "9600,n,9,1", "9600,n,8,3",
                          "9600,n,8,1,1", "-9600,n,8,1", "9600,nn,8,1"}) {
    EXPECT_THROW(parse_settings(bad), PortError) << bad;
  }
}

}  // namespace
}  // namespace talmir880::testing
