#include "toolkit/qt/widget_bindings.hpp"

#include <cmath>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

namespace talmir880 {

QString to_qt(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string to_utf8(const QString& text) { return text.toUtf8().toStdString(); }

QColor ole_colour(int value) {
  return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

namespace {

// Shows the current state now and again after every change.
template <typename Sync>
void follow(Control& control, Sync sync) {
  sync();
  control.on_change(std::move(sync));
}

}  // namespace

void bind(Window& control, QWidget& window) {
  follow(control, [&control, &window] {
    window.setWindowTitle(to_qt(control.Caption()));
    window.setEnabled(control.Enabled());
  });
}

void bind(Button& control, QPushButton& widget, const Dispatch& dispatch) {
  follow(control, [&control, &widget] {
    widget.setText(to_qt(control.Caption()));
    widget.setEnabled(control.Enabled());
  });
  QObject::connect(&widget, &QPushButton::clicked, &widget,
                   [&control, dispatch] { dispatch([&control] { control.click(); }); });
}

void bind(Label& control, QLabel& widget) {
  widget.setTextFormat(Qt::PlainText);
  follow(control, [&control, &widget] {
    widget.setText(to_qt(control.Caption()));
    // Black is every label's designed colour and the toolkit's own label
    // colour on the desktop it was designed for: keep the theme's, so a dark
    // theme stays readable, and paint any other colour as given.
    QPalette palette;
    if (control.ForeColor() != kBlack) {
      palette.setColor(QPalette::WindowText, ole_colour(control.ForeColor()));
    }
    widget.setPalette(palette);
    // The label fits its caption from a fixed top-left corner. Its height is
    // the font's line, taller than the designed em box: CJK glyphs of the
    // substitute fonts overshoot the em and would lose their bottom rows.
    widget.resize(widget.sizeHint());
  });
}

void bind(TextBox& control, QLineEdit& widget, const Dispatch& dispatch) {
  follow(control, [&control, &widget] {
    // Typing comes back here as the same text: leave the widget, and its
    // cursor, alone then.
    const QString text = to_qt(control.Text());
    if (widget.text() != text) widget.setText(text);
  });
  QObject::connect(&widget, &QLineEdit::textEdited, &widget,
                   [&control, dispatch](const QString& text) {
                     dispatch([&control, typed = to_utf8(text)] { control.type(typed); });
                   });
}

void bind(ComboBox& control, QComboBox& widget, const Dispatch& dispatch) {
  widget.setEditable(false);
  follow(control, [&control, &widget] {
    const int count = control.ListCount();
    for (int i = 0; i < count; ++i) {
      const QString text = to_qt(control.List(i));
      if (i >= widget.count()) {
        widget.addItem(text);
      } else if (widget.itemText(i) != text) {
        widget.setItemText(i, text);
      }
    }
    while (widget.count() > count) widget.removeItem(widget.count() - 1);
    if (widget.currentIndex() != control.ListIndex()) widget.setCurrentIndex(control.ListIndex());
  });
  // activated, not currentIndexChanged: a pick of the selected item runs
  // Click again, as it does in code.
  QObject::connect(&widget, &QComboBox::activated, &widget, [&control, dispatch](int index) {
    dispatch([&control, index] { control.pick(index); });
  });
}

void bind(ProgressBar& control, QProgressBar& widget) {
  widget.setRange(static_cast<int>(ProgressBar::Min), static_cast<int>(ProgressBar::Max));
  // The control keeps the exact value; the widget only draws it.
  follow(control,
         [&control, &widget] { widget.setValue(static_cast<int>(std::lround(control.Value()))); });
}

}  // namespace talmir880
