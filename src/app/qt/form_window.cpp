#include "app/qt/form_window.hpp"

#include <QFile>
#include <QFont>
#include <QIcon>
#include <QImageReader>
#include <QPixmap>

#include "app/layout.hpp"
#include "app/qt/control_widgets.hpp"
#include "app/qt/panel_fonts.hpp"

namespace talmir880 {
namespace {

// The icon's pixels as a PPM, which Qt reads with a few lines of its own
// (talmir880.png is the source; packaging/make_icons.sh makes both): the PNG
// would bring libpng's and zlib's decoding code into the process for one
// small picture. The format is named: asked to guess, Qt loads every
// image-format plugin to ask each of them. A program without the resource
// shows no icon.
QIcon window_icon() {
  const QString path = QString::fromLatin1(kIconResource);
  if (!QFile::exists(path)) return {};
  QImageReader reader(path, "ppm");
  reader.setAutoDetectImageFormat(false);
  return QIcon(QPixmap::fromImage(reader.read()));
}

}  // namespace

FormWindow::FormWindow(Form1& form) : form_(form) {
  install_fonts();
  // The port lists draw in the window's default font. Their names need no
  // shaping any more than the captions do, and with nothing to shape Qt
  // never pages in HarfBuzz's shaper. Only the strategy is set: the family
  // and size still follow the desktop's font.
  QFont unshaped;
  unshaped.setStyleStrategy(QFont::PreferNoShaping);
  setFont(unshaped);
  setFixedSize(to_pixels(kClientWidth), to_pixels(kClientHeight));
  setWindowIcon(window_icon());

  const Dispatch dispatch = [&form](const std::function<void()>& event) { form.run(event); };
  bind(form.form, *this);

  // The rows are in tab order; chaining the widgets that take the focus
  // makes Tab follow the table.
  Fonts fonts;
  QWidget* first = nullptr;
  QWidget* previous = nullptr;
  for (const LayoutRow& row : kLayout) {
    QWidget* widget = make_widget(*this, form, row, dispatch, fonts);
    if (widget->focusPolicy() == Qt::NoFocus) continue;
    if (previous != nullptr) {
      setTabOrder(previous, widget);
    } else {
      first = widget;
    }
    previous = widget;
  }
  make_timer(*this, form.Timer1);
  make_timer(*this, form.Timer_sweep);

  // The window opens with the focus on the first control of the tab order.
  if (first != nullptr) first->setFocus();
}

FormWindow::~FormWindow() {
  for (Control* control : form_.controls()) control->on_change({});
}

}  // namespace talmir880
