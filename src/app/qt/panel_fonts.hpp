#pragma once

// The fonts the window draws its captions in.

#include <QFont>
#include <QString>
#include <QStringList>
#include <map>
#include <string_view>

#include "app/layout.hpp"

namespace talmir880 {

// The captions' fonts, resources of the program (talmir880_add_resources).
inline constexpr const char* kFontResources[] = {":/talmir880/fonts/talmir880-panel-regular.otf",
                                                 ":/talmir880/fonts/talmir880-panel-bold.otf"};
// The family of those fonts: the substitute font's glyphs for the panel's
// own texts.
inline constexpr char kPanelFontFamily[] = "TALMIR-880 Panel";

// Lets the designed Chinese font names find a font with the glyphs on
// systems that have neither SimHei nor SimSun: the program's own fonts where
// it carries them, then the system's. Safe to call again.
void install_fonts();

// The layout's fonts. A designed family that is not installed is named by
// its first installed substitute, the later ones behind it as fallbacks: Qt
// draws with the same font either way, but asked for a family it lacks it
// first has fontconfig rank every font for fallbacks, milliseconds at
// start-up. With no substitute installed Qt is left to search as before.
class Fonts {
 public:
  Fonts();
  QFont of(const FontSpec& design, ControlKind kind);

 private:
  const QStringList& families(std::string_view designed);
  bool installed(const QString& family) const;

  const QStringList installed_;
  std::map<std::string_view, QStringList> resolved_;
};

}  // namespace talmir880
