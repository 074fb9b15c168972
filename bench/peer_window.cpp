// The windows the panel's start-up is compared with (panel_vs_peers.py), one
// source built three ways:
//   talmir880-window-floor  one empty Qt Widgets window: a Widgets program can
//                           hardly start faster or smaller
//   talmir880-window-label  the same with one label of Latin text in the
//                           default font: what the first line of text costs
//   talmir880-window-cjk    the same with two labels of the panel's Chinese
//                           captions, one bold and one regular, drawn from the
//                           system's CJK font as any program draws them (the
//                           panel carries a subset of that font instead)
#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QLabel>
#include <QWidget>

namespace {

// The system font the panel would draw 黑体 in without its own: the first of
// its substitutes installed.
[[maybe_unused]] QString panel_family() {
  const QStringList installed = QFontDatabase::families();
  for (const char* family :
       {"SimHei", "Noto Sans Mono CJK SC", "Noto Sans CJK SC", "Source Han Sans SC",
        "WenQuanYi Zen Hei", "WenQuanYi Micro Hei", "Droid Sans Fallback"}) {
    if (installed.contains(QString::fromUtf8(family), Qt::CaseInsensitive)) return family;
  }
  return QString::fromUtf8("黑体");
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QWidget window;
#if defined(WITH_LABEL)
  QLabel label(QStringLiteral("PORT CLOSED"), &window);
  label.move(24, 16);
#elif defined(WITH_CJK_LABELS)
  window.resize(824, 329);
  QFont font(panel_family());
  font.setPointSizeF(12);
  font.setBold(true);
  QLabel bold(QString::fromUtf8("串口关闭"), &window);
  bold.setFont(font);
  bold.move(24, 16);
  font.setPointSizeF(15);
  font.setBold(false);
  QLabel regular(QString::fromUtf8("结束扫描频率"), &window);
  regular.setFont(font);
  regular.move(24, 150);
#endif
  window.show();
  return app.exec();
}
