// User events reach the core through the real widgets, and every change of a
// control reaches its widget.
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "qt/window_fixture.hpp"

namespace talmir880::testing {
namespace {

using Texts = std::vector<std::string>;

class BindingTest : public WindowTest {
 protected:
  // Every widget shows exactly what its control holds.
  void expect_widgets_mirror_controls() {
    EXPECT_EQ(text_of(window.windowTitle()), form.form.Caption());
    for (const LayoutRow& row : kLayout) {
      Control& c = row.of(form);
      switch (row.kind()) {
        case ControlKind::Button: {
          auto& b = static_cast<Button&>(c);
          EXPECT_EQ(text_of(button(name(row))->text()), b.Caption()) << name(row);
          EXPECT_EQ(button(name(row))->isEnabled(), b.Enabled()) << name(row);
          break;
        }
        case ControlKind::Label:
          EXPECT_EQ(text_of(label(name(row))->text()), static_cast<Label&>(c).Caption())
              << name(row);
          break;
        case ControlKind::TextBox:
          EXPECT_EQ(text_of(widget<QLineEdit>(name(row))->text()), static_cast<TextBox&>(c).Text())
              << name(row);
          break;
        case ControlKind::ComboBox: {
          auto& list = static_cast<ComboBox&>(c);
          QComboBox* shown = widget<QComboBox>(name(row));
          Texts items;
          for (int i = 0; i < shown->count(); ++i) items.push_back(text_of(shown->itemText(i)));
          EXPECT_EQ(items, list.items()) << name(row);
          EXPECT_EQ(shown->currentIndex(), list.ListIndex()) << name(row);
          break;
        }
        case ControlKind::ProgressBar:
          EXPECT_EQ(widget<QProgressBar>(name(row))->value(),
                    std::lround(static_cast<ProgressBar&>(c).Value()));
          break;
      }
    }
  }
};

TEST_F(BindingTest, AfterStartUpEveryWidgetShowsItsControl) {
  expect_widgets_mirror_controls();
  EXPECT_EQ(text_of(window.windowTitle()), "TALMIR-880控制软件 KELDOR 2016-01-08");
  EXPECT_EQ(text_of(label("Label_COM_state")->text()), "串口关闭");
  EXPECT_EQ(widget<QComboBox>("COM_Combo")->currentText(), "COM9");
  EXPECT_EQ(widget<QComboBox>("BAU_Combo")->currentText(), "57600");
  EXPECT_EQ(widget<QProgressBar>("ProgressBar_sweep")->value(), 50);
}

TEST_F(BindingTest, RealKeypadButtonsSendTheRfCommand) {
  port.open = true;
  click({"Command16", "Command1", "Command10", "Command10", "Command14"});
  EXPECT_EQ(port.written, Texts{"$F010000000"});
  EXPECT_EQ(text_of(label("Label_RF")->text()), "RF 0 100.000 000 MHz");
  EXPECT_EQ(text_of(widget<QLineEdit>("Text_send")->text()), "RF 0 100.000 000 MHz");
  EXPECT_TRUE(widget<QTimer>("Timer1")->isActive()) << "the watchdog is armed";
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(BindingTest, APortFaultEscapingAClickIsTold) {
  port.open = true;
  port.fail_write = true;
  click({"Command16", "Command1", "Command14"});
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "发送数据出错！");
  EXPECT_EQ(boxes.shown[0].title, "TALMIR-880控制软件");
}

TEST_F(BindingTest, ADisabledButtonFollowsItsControlAndTakesNoClick) {
  port.open = true;
  click({"Command_signal"});
  ASSERT_EQ(port.written.size(), 1u);
  EXPECT_EQ(port.written[0].substr(0, 2), "$W");
  EXPECT_FALSE(form.Command_signal.Enabled());
  EXPECT_FALSE(button("Command_signal")->isEnabled());
  click({"Command_signal"});
  EXPECT_EQ(port.written.size(), 1u);
  expect_widgets_mirror_controls();
}

TEST_F(BindingTest, LanguagePickedInTheRealListTurnsEveryCaptionEnglish) {
  pick("Combo3", 2);
  EXPECT_EQ(form.Combo3.ListIndex(), 2);
  EXPECT_EQ(text_of(window.windowTitle()), "TALMIR-880 control software KELDOR 2016-01-08");
  const std::pair<const char*, const char*> buttons[] = {
      {"Command_uart_port_open", "PORT OPEN"},
      {"Command_uart_port_closed", "PORT CLOSED"},
      {"Command_signal", "SIGNAL"},
      {"Command_cont", "CONT"},
      {"Command_stop", "STOP SWEEP"},
      {"Command23", "CLS"},
      {"Command24", "SAVE FLASH"},
      {"Command22", "MOD ON/OFF"},
      {"Command21", "RF ON/OFF"},
      {"Command18", "STEP+"},
      {"Command19", "STEP-"},
      {"Command16", "RF"},
      {"Command17", "MOD"}};
  for (auto [name, caption] : buttons) EXPECT_EQ(text_of(button(name)->text()), caption) << name;
  const std::pair<const char*, const char*> labels[] = {
      {"Label_star", "STAR"},    {"Label_end", "END"},       {"Label_sample", "SAM"},
      {"Label_progress", "PRO"}, {"Label_language", "LANG"}, {"Label1", "RF LEVEL"},
      {"Label2", "STEP"},        {"Label3", "SAVE MODE"},    {"Label_COM_state", "PORT CLOSED"}};
  for (auto [name, caption] : labels) EXPECT_EQ(text_of(label(name)->text()), caption) << name;
  QComboBox* mode = widget<QComboBox>("Combo4");
  ASSERT_EQ(mode->count(), 2);
  EXPECT_EQ(mode->itemText(0), "VFO");
  EXPECT_EQ(mode->itemText(1), "SWEEP");
  // Nothing Chinese is left on a caption.
  for (auto* shown : window.findChildren<QLabel*>()) {
    for (QChar ch : shown->text()) EXPECT_LT(ch.unicode(), 0x80) << text_of(shown->text());
  }
  for (auto* shown : window.findChildren<QPushButton*>()) {
    if (shown->objectName() == "Command11") continue;  // the point key's dot
    for (QChar ch : shown->text()) EXPECT_LT(ch.unicode(), 0x80) << text_of(shown->text());
  }
  expect_widgets_mirror_controls();
}

TEST_F(BindingTest, APickOfTheSelectedItemRunsClickAgain) {
  ASSERT_EQ(form.Combo2.ListIndex(), 0);
  form.tuning.vfo_step = 5;
  pick("Combo2", 0);
  EXPECT_EQ(form.tuning.vfo_step, 1e9);
  pick("Combo2", 3);
  EXPECT_EQ(form.Combo2.ListIndex(), 3);
  EXPECT_EQ(form.tuning.vfo_step, 1e6);
  EXPECT_EQ(widget<QComboBox>("Combo2")->currentIndex(), 3);
}

TEST_F(BindingTest, ALevelPickedInTheRealListIsSent) {
  port.open = true;
  pick("Combo1", 1);
  EXPECT_EQ(port.written, Texts{"$P2"});
}

TEST_F(BindingTest, TypingGoesToTheControlAndKeepsTheCursor) {
  QLineEdit* edit = widget<QLineEdit>("Text_sample");
  edit->setCursorPosition(1);
  QTest::keyClicks(edit, "2");
  EXPECT_EQ(form.Text_sample.Text(), "5200");
  EXPECT_EQ(edit->cursorPosition(), 2);
  QTest::keyClick(edit, Qt::Key_Backspace);
  EXPECT_EQ(form.Text_sample.Text(), "500");
  EXPECT_EQ(edit->cursorPosition(), 1);

  // The core's own change reaches the widget.
  form.Text_sample.set_Text("9999");
  EXPECT_EQ(edit->text(), "9999");
}

TEST_F(BindingTest, ProgressBarDrawsTheCoreValueWhichStaysExact) {
  QProgressBar* bar = widget<QProgressBar>("ProgressBar_sweep");
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 100);
  form.ProgressBar_sweep.set_Value(99.95f);
  EXPECT_EQ(bar->value(), 100);
  EXPECT_EQ(form.ProgressBar_sweep.Value(), 99.95f);
  form.ProgressBar_sweep.set_Value(12.4f);
  EXPECT_EQ(bar->value(), 12);
}

TEST_F(BindingTest, PortStateLabelTurnsRedWhileOpen) {
  QLabel* state = label("Label_COM_state");
  const QColor normal = window.palette().color(QPalette::WindowText);
  click({"Command_uart_port_open"});
  ASSERT_TRUE(port.open);
  EXPECT_EQ(text_of(state->text()), "串口打开");
  EXPECT_EQ(state->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  click({"Command_uart_port_closed"});
  EXPECT_EQ(text_of(state->text()), "串口关闭");
  EXPECT_EQ(state->palette().color(QPalette::WindowText), normal);
  EXPECT_EQ(normal, QColor(0, 0, 0)) << "black on the standard palette";
}

TEST_F(BindingTest, QTimerFollowsTheTimersEnabledState) {
  QTimer* watchdog = widget<QTimer>("Timer1");
  EXPECT_EQ(watchdog->interval(), 500);
  EXPECT_EQ(widget<QTimer>("Timer_sweep")->interval(), 50);
  EXPECT_FALSE(watchdog->isActive());
  EXPECT_FALSE(widget<QTimer>("Timer_sweep")->isActive());

  form.Timer1.set_Enabled(true);
  EXPECT_TRUE(watchdog->isActive());
  QTest::qWait(100);  // part of the interval goes by
  EXPECT_LE(watchdog->remainingTime(), 430);
  // Enabling again starts a fresh interval (coarse timers may round by 5%).
  form.Timer1.set_Enabled(true);
  EXPECT_GE(watchdog->remainingTime(), 470);
  form.Timer1.set_Enabled(false);
  EXPECT_FALSE(watchdog->isActive());
}

TEST_F(BindingTest, AFiredSweepTimerReachesTheTick) {
  port.open = true;
  click({"Command_signal"});
  QTimer* tick = widget<QTimer>("Timer_sweep");
  ASSERT_TRUE(tick->isActive());
  QProgressBar* bar = widget<QProgressBar>("ProgressBar_sweep");

  port.receive(std::string(400, '0'));  // 100 of 500 points
  EXPECT_TRUE(QTest::qWaitFor([&] { return form.ProgressBar_sweep.Value() == 20.0f; }, 2000));
  EXPECT_EQ(bar->value(), 20);
  EXPECT_TRUE(tick->isActive());

  port.receive(std::string(1600, '0'));  // the pass is complete
  EXPECT_TRUE(QTest::qWaitFor([&] { return !tick->isActive(); }, 2000));
  EXPECT_EQ(bar->value(), 100);
  EXPECT_TRUE(button("Command_signal")->isEnabled());
}

// Serial events come in through the same door as clicks: a port fault
// escaping a handler is told, not thrown into the event loop.
TEST(FormWindowSerial, APortFaultEscapingAnOutsideEventIsTold) {
  FakeSerialPort port;
  ScriptedBoxes boxes;
  Form1 form(port, boxes);
  FormWindow window(form);
  form.Form_Load();
  form.run([] { throw PortError("device gone"); });
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "发送数据出错！");
}

TEST(FormWindowLifetime, TheWindowLetsGoOfTheForm) {
  FakeSerialPort port;
  ScriptedBoxes boxes;
  Form1 form(port, boxes);
  {
    FormWindow window(form);
    form.Form_Load();
  }
  // No widget is left to follow these.
  form.Label_RF.set_Caption("RF OFF");
  form.Timer1.set_Enabled(true);
  form.Combo3.pick(2);
  port.receive("R");
  EXPECT_FALSE(form.Timer1.Enabled()) << "received bytes still reach the core";
}

}  // namespace
}  // namespace talmir880::testing
