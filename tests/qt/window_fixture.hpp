#pragma once

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <string_view>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/form1.hpp"
#include "app/layout.hpp"
#include "app/qt/form_window.hpp"
#include "support/fake_serial_port.hpp"
#include "support/scripted_boxes.hpp"

namespace talmir880::testing {

// The panel as main() makes it, on screen (offscreen), with a fake port and
// scripted message boxes.
class WindowTest : public ::testing::Test {
 protected:
  WindowTest() {
    form.Form_Load();
    window.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
  }

  template <typename W>
  W* widget(std::string_view name) {
    auto* found = window.findChild<W*>(QString::fromUtf8(name.data(), qsizetype(name.size())));
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  QPushButton* button(std::string_view name) { return widget<QPushButton>(name); }
  QLabel* label(std::string_view name) { return widget<QLabel>(name); }

  void click(std::initializer_list<std::string_view> names) {
    for (auto name : names) QTest::mouseClick(button(name), Qt::LeftButton);
  }

  // A pick as the user makes it: open the list and click the item.
  void pick(std::string_view list_name, int index) {
    QComboBox* list = widget<QComboBox>(list_name);
    list->showPopup();
    QAbstractItemView* view = list->view();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view->window()));
    const QRect item = view->visualRect(view->model()->index(index, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, item.center());
    EXPECT_FALSE(view->window()->isVisible()) << "the pick did not close the list";
  }

  Control& control(std::string_view name) {
    for (Control* c : form.controls()) {
      if (c->name() == name) return *c;
    }
    throw std::logic_error("no control " + std::string(name));
  }

  // The name of a row's control, which is its widget's name.
  const std::string& name(const LayoutRow& row) { return row.of(form).name(); }

  static std::string text_of(const QString& text) { return text.toUtf8().toStdString(); }

  FakeSerialPort port;
  ScriptedBoxes boxes;
  Form1 form{port, boxes};
  FormWindow window{form};
};

}  // namespace talmir880::testing
