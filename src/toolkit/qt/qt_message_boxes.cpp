#include "toolkit/qt/qt_message_boxes.hpp"

#include <QApplication>
#include <QMessageBox>

#include "toolkit/qt/widget_bindings.hpp"

namespace talmir880 {

Answer QtMessageBoxes::show(const Message& message) {
  // Owned by the window in front, so it opens over the panel.
  QMessageBox box(QApplication::activeWindow());
  box.setIcon(QMessageBox::NoIcon);
  box.setWindowTitle(to_qt(message.title));
  box.setTextFormat(Qt::PlainText);
  box.setText(to_qt(message.text));
  if (message.buttons == Buttons::OkCancel) {
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
  } else {
    box.setStandardButtons(QMessageBox::Ok);
  }
  box.setDefaultButton(QMessageBox::Ok);
  box.exec();
  return box.clickedButton() == box.button(QMessageBox::Ok) ? Answer::Ok : Answer::Cancel;
}

}  // namespace talmir880
