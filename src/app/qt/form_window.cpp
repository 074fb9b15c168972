#include "app/qt/form_window.hpp"

#include <map>
#include <stdexcept>
#include <string_view>

#include <QComboBox>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QFrame>
#include <QIcon>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QResource>
#include <QTimer>

#include "app/layout.hpp"
#include "toolkit/qt/timer_binding.hpp"
#include "toolkit/qt/widget_bindings.hpp"

namespace talmir880 {
namespace {

// The layout's fonts. A designed family that is not installed is named by
// its first installed substitute, the later ones behind it as fallbacks: Qt
// draws with the same font either way, but asked for a family it lacks it
// first has fontconfig rank every font for fallbacks, milliseconds at
// start-up. With no substitute installed Qt is left to search as before.
class Fonts {
 public:
  Fonts() : installed_(QFontDatabase::families()) {}

  QFont of(const FontSpec& design, ControlKind kind) {
    QFont font;
    font.setFamilies(families(design.family));
    font.setPointSizeF(design.points);
    font.setWeight(design.bold ? QFont::Bold : QFont::Normal);
    // Latin and Chinese need no shaping: Qt maps characters to glyphs
    // directly and spares HarfBuzz a pass over every caption. Scripts that
    // do need it, typed into an entry line, are still shaped. Captions and
    // list items are the panel's own texts, all in the font drawing them
    // (tests/qt holds it), so Qt need not line up fallback fonts for them;
    // what is typed may need one.
    QFont::StyleStrategy strategy = QFont::PreferNoShaping;
    if (kind != ControlKind::TextBox) {
      strategy = QFont::StyleStrategy(strategy | QFont::NoFontMerging);
    }
    font.setStyleStrategy(strategy);
    return font;
  }

 private:
  const QStringList& families(std::string_view designed) {
    auto known = resolved_.find(designed);
    if (known != resolved_.end()) return known->second;
    const QString name = to_qt(designed);
    QStringList families{name};
    if (!installed(name)) {
      const QStringList substitutes = QFont::substitutes(name);
      for (qsizetype i = 0; i < substitutes.size(); ++i) {
        if (installed(substitutes[i])) {
          families = substitutes.mid(i);
          break;
        }
      }
    }
    return resolved_.emplace(designed, families).first->second;
  }
  bool installed(const QString& family) const {
    return installed_.contains(family, Qt::CaseInsensitive);
  }

  const QStringList installed_;
  std::map<std::string_view, QStringList> resolved_;
};

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

// Each row holds its control's member, so the row's kind is the control's.
QWidget* make_bound(QWidget& window, Form1& form, const LayoutRow& row, const Dispatch& dispatch,
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

// Registered once per process; empty when the program lacks the resources.
// Given the resource's own bytes (stored uncompressed, so nothing is
// copied): given its path, Qt would read the file into the heap, and
// FreeType read it into a second copy when it first draws.
const QStringList& panel_fonts() {
  static const QStringList families = [] {
    QStringList found;
    for (const char* path : kFontResources) {
      const QByteArray data = QResource(QString::fromLatin1(path)).uncompressedData();
      const int id = data.isEmpty() ? -1 : QFontDatabase::addApplicationFontFromData(data);
      if (id >= 0 && found.isEmpty()) found = QFontDatabase::applicationFontFamilies(id);
    }
    return found;
  }();
  return families;
}

}  // namespace

void install_fonts() {
  // The window was laid out in SimHei and SimSun, whose Latin letters are
  // half as wide as their ideographs. The monospaced Noto keeps those
  // proportions, so captions come out at their designed widths and the
  // English ones fit their keys; the serif Noto draws SimSun's Latin wider
  // and clips "ENGLISH" and "MOD ON/OFF", so it comes after it. The panel's
  // own fonts come first: the monospaced Noto cut down to the panel's texts,
  // the same glyphs from 43 KB instead of 20 MB.
  const QStringList& own = panel_fonts();
  QFont::insertSubstitutions(
      to_qt(kHei),
      QStringList{"SimHei"} + own +
          QStringList{"Noto Sans Mono CJK SC", "Noto Sans CJK SC", "Source Han Sans SC",
                      "WenQuanYi Zen Hei", "WenQuanYi Micro Hei", "Droid Sans Fallback"});
  QFont::insertSubstitutions(
      to_qt(kSong),
      QStringList{"SimSun"} + own +
          QStringList{"Noto Sans Mono CJK SC", "Noto Serif CJK SC", "Source Han Serif SC",
                      "AR PL UMing CN", "WenQuanYi Zen Hei", "Droid Sans Fallback"});
}

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
    QWidget* widget = make_bound(*this, form, row, dispatch, fonts);
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
