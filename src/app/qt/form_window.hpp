#pragma once

#include <QWidget>

#include "app/form1.hpp"

namespace talmir880 {

// The window's icon and its captions' fonts, resources of the program
// (talmir880_add_resources).
inline constexpr char kIconResource[] = ":/talmir880/talmir880.ppm";
inline constexpr const char* kFontResources[] = {":/talmir880/fonts/talmir880-panel-regular.otf",
                                                 ":/talmir880/fonts/talmir880-panel-bold.otf"};
// The family of those fonts: the substitute font's glyphs for the panel's
// own texts.
inline constexpr char kPanelFontFamily[] = "TALMIR-880 Panel";

// Form1 on the screen: a fixed window with one widget per control, placed and
// dressed from the layout table and named after its control, and a QTimer
// for each timer control. Clicks, picks and typing run through Form1::run,
// which serial events and timer ticks reach on their own.
class FormWindow : public QWidget {
 public:
  explicit FormWindow(Form1& form);
  ~FormWindow() override;
  FormWindow(const FormWindow&) = delete;
  FormWindow& operator=(const FormWindow&) = delete;

 private:
  Form1& form_;
};

// Lets the designed Chinese font names find a font with the glyphs on
// systems that have neither SimHei nor SimSun: the program's own fonts where
// it carries them, then the system's. Safe to call again.
void install_fonts();

}  // namespace talmir880
