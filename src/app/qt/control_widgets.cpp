#include "app/qt/control_widgets.hpp"

#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <stdexcept>

#include "toolkit/qt/timer_binding.hpp"

namespace talmir880 {
namespace {

// A list whose pop-up is made when it is first opened. QComboBox makes its
// pop-up (a frame, a list view, two scroll bars, and the code of all of
// them) as soon as its font changes, which the layout does to each list as
// it is made; a pop-up made later takes the list's font from it all the same.
class List final : public QComboBox {
 public:
  using QComboBox::QComboBox;

 protected:
  void changeEvent(QEvent* event) override {
    // The pop-up is the list's one child frame.
    if (event->type() == QEvent::FontChange &&
        findChild<QFrame*>(QString(), Qt::FindDirectChildrenOnly) == nullptr) {
      QWidget::changeEvent(event);
      return;
    }
    QComboBox::changeEvent(event);
  }
};

template <typename W>
W* make(QWidget& window, Form1& form, const LayoutRow& row, Fonts& fonts) {
  auto* widget = new W(&window);
  widget->setObjectName(to_qt(row.of(form).name()));
  widget->setGeometry(to_pixels(row.left), to_pixels(row.top), to_pixels(row.width),
                      to_pixels(row.height));
  // No family: the window's default font, inherited.
  if (!row.font.family.empty()) widget->setFont(fonts.of(row.font, row.kind()));
  if (!row.tooltip.empty()) widget->setToolTip(to_qt(row.tooltip));
  return widget;
}

}  // namespace

QWidget* make_widget(QWidget& window, Form1& form, const LayoutRow& row, const Dispatch& dispatch,
                     Fonts& fonts) {
  Control& control = row.of(form);
  switch (row.kind()) {
    case ControlKind::Button: {
      auto* button = make<QPushButton>(window, form, row, fonts);
      bind(static_cast<Button&>(control), *button, dispatch);
      return button;
    }
    case ControlKind::Label: {
      auto* label = make<QLabel>(window, form, row, fonts);
      label->setFocusPolicy(Qt::NoFocus);
      bind(static_cast<Label&>(control), *label);
      return label;
    }
    case ControlKind::ComboBox: {
      QComboBox* list = make<List>(window, form, row, fonts);
      bind(static_cast<ComboBox&>(control), *list, dispatch);
      return list;
    }
    case ControlKind::TextBox: {
      auto* box = make<QLineEdit>(window, form, row, fonts);
      if (&control == &form.Text_send) {
        QPalette palette = box->palette();
        palette.setColor(QPalette::Base, ole_colour(kDisplayBackColor));
        palette.setColor(QPalette::Text, ole_colour(kDisplayForeColor));
        box->setPalette(palette);
      }
      bind(static_cast<TextBox&>(control), *box, dispatch);
      return box;
    }
    case ControlKind::ProgressBar: {
      auto* bar = make<QProgressBar>(window, form, row, fonts);
      bar->setFocusPolicy(Qt::NoFocus);
      bar->setTextVisible(false);
      bind(static_cast<ProgressBar&>(control), *bar);
      return bar;
    }
  }
  throw std::logic_error("unknown control kind");
}

void make_timer(QWidget& window, Timer& control) {
  auto* timer = new QTimer(&window);
  timer->setObjectName(to_qt(control.name()));
  bind(control, *timer);
}

}  // namespace talmir880
