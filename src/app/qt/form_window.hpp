#pragma once

#include <QWidget>

#include "app/form1.hpp"
#include "app/qt/panel_fonts.hpp"

namespace talmir880 {

// The window's icon, a resource of the program (talmir880_add_resources).
inline constexpr char kIconResource[] = ":/talmir880/talmir880.ppm";

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

}  // namespace talmir880
