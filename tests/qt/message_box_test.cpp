// QtMessageBoxes: a real modal box, found while it is open and answered.
#include <functional>
#include <optional>

#include <QMessageBox>

#include "qt/window_fixture.hpp"
#include "toolkit/qt/qt_message_boxes.hpp"

namespace talmir880::testing {
namespace {

// Waits, inside the box's own event loop, for the modal box to open, then
// lets the test inspect and answer it. Gives up after a few seconds so a
// box that never opens fails the test rather than hanging it.
class NextBox {
 public:
  explicit NextBox(std::function<void(QMessageBox&)> answer) : answer_(std::move(answer)) {
    poll_.setInterval(5);
    QObject::connect(&poll_, &QTimer::timeout, &poll_, [this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        poll_.stop();
        seen = true;
        answer_(*box);
      } else if (++polls_ > 1000) {
        poll_.stop();
      }
    });
    poll_.start();
  }
  bool seen = false;

 private:
  std::function<void(QMessageBox&)> answer_;
  QTimer poll_;
  int polls_ = 0;
};

std::string text_of(const QString& text) { return text.toUtf8().toStdString(); }

TEST(QtMessageBoxes, OkCancelBoxHasNoIconAndAnswersOk) {
  QtMessageBoxes boxes;
  NextBox next([](QMessageBox& box) {
    EXPECT_EQ(box.icon(), QMessageBox::NoIcon);
    EXPECT_TRUE(box.iconPixmap().isNull());
    EXPECT_EQ(box.standardButtons(), QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(box.buttons().size(), 2);
    EXPECT_EQ(text_of(box.windowTitle()), "TALMIR-880控制软件");
    EXPECT_EQ(text_of(box.text()), "保存吗？");
    EXPECT_TRUE(box.isModal());
    box.button(QMessageBox::Ok)->click();
  });
  EXPECT_EQ(boxes.show({"保存吗？", "TALMIR-880控制软件", Buttons::OkCancel}), Answer::Ok);
  EXPECT_TRUE(next.seen);
}

TEST(QtMessageBoxes, CancelAndEscapeAnswerCancel) {
  QtMessageBoxes boxes;
  {
    NextBox next([](QMessageBox& box) { box.button(QMessageBox::Cancel)->click(); });
    EXPECT_EQ(boxes.show({"a", "t", Buttons::OkCancel}), Answer::Cancel);
    EXPECT_TRUE(next.seen);
  }
  {
    NextBox next([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); });
    EXPECT_EQ(boxes.show({"a", "t", Buttons::OkCancel}), Answer::Cancel);
    EXPECT_TRUE(next.seen);
  }
  {
    NextBox next([](QMessageBox& box) { box.close(); });
    EXPECT_EQ(boxes.show({"a", "t", Buttons::OkCancel}), Answer::Cancel);
    EXPECT_TRUE(next.seen);
  }
}

TEST(QtMessageBoxes, OkBoxHasOnlyOk) {
  QtMessageBoxes boxes;
  NextBox next([](QMessageBox& box) {
    EXPECT_EQ(box.icon(), QMessageBox::NoIcon);
    EXPECT_EQ(box.standardButtons(), QMessageBox::Ok);
    EXPECT_EQ(box.buttons().size(), 1);
    EXPECT_EQ(text_of(box.text()), "    串口错误！") << "the text as given, blanks and all";
    box.button(QMessageBox::Ok)->click();
  });
  EXPECT_EQ(boxes.show({"    串口错误！", "TALMIR-880控制软件", Buttons::Ok}), Answer::Ok);
  EXPECT_TRUE(next.seen);
}

TEST(QtMessageBoxes, TimersKeepRunningWhileABoxIsOpen) {
  QtMessageBoxes boxes;
  int ticks = 0;
  QTimer other;
  QObject::connect(&other, &QTimer::timeout, &other, [&] { ++ticks; });
  other.start(1);
  std::optional<int> ticks_when_open;
  NextBox next([&](QMessageBox& box) {
    ticks_when_open = ticks;
    QTimer::singleShot(20, &box, [&box] { box.button(QMessageBox::Ok)->click(); });
  });
  boxes.show({"x", "t", Buttons::Ok});
  ASSERT_TRUE(ticks_when_open.has_value());
  EXPECT_GT(ticks, *ticks_when_open) << "the timer ticked while the box was open";
}

// The whole road with real parts: a key press with the port closed arms the
// watchdog QTimer, whose tick opens the no-connect box over the window.
TEST(QtMessageBoxes, WatchdogTickOpensTheNoConnectBox) {
  FakeSerialPort port;
  QtMessageBoxes boxes;
  Form1 form(port, boxes);
  FormWindow window(form);
  form.Form_Load();
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

  QTest::mouseClick(window.findChild<QPushButton*>("Command16"), Qt::LeftButton);
  QTest::mouseClick(window.findChild<QPushButton*>("Command14"), Qt::LeftButton);
  auto* watchdog = window.findChild<QTimer*>("Timer1");
  ASSERT_TRUE(watchdog->isActive());

  NextBox next([&](QMessageBox& box) {
    EXPECT_EQ(text_of(box.text()), "没有连机，操作错误！");
    EXPECT_EQ(text_of(box.windowTitle()), "TALMIR-880控制软件");
    EXPECT_EQ(box.icon(), QMessageBox::NoIcon);
    EXPECT_FALSE(watchdog->isActive()) << "disarmed before the box";
    box.button(QMessageBox::Ok)->click();
  });
  EXPECT_TRUE(QTest::qWaitFor([&] { return next.seen; }, 3000));
  EXPECT_TRUE(port.written.empty());
}

}  // namespace
}  // namespace talmir880::testing
