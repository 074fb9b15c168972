#include "app/qt/panel_fonts.hpp"

#include <QByteArray>
#include <QFontDatabase>
#include <QResource>

#include "toolkit/qt/widget_bindings.hpp"

namespace talmir880 {
namespace {

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

Fonts::Fonts() : installed_(QFontDatabase::families()) {}

QFont Fonts::of(const FontSpec& design, ControlKind kind) {
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

const QStringList& Fonts::families(std::string_view designed) {
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

bool Fonts::installed(const QString& family) const {
  return installed_.contains(family, Qt::CaseInsensitive);
}

}  // namespace talmir880
