#pragma once

// The window's controls on the screen: one widget per row of the layout,
// placed, dressed and bound to its control, and a QTimer per timer.

#include <QWidget>

#include "app/form1.hpp"
#include "app/layout.hpp"
#include "app/qt/panel_fonts.hpp"
#include "toolkit/qt/widget_bindings.hpp"

namespace talmir880 {

// Each row holds its control's member, so the row's kind is the control's.
QWidget* make_widget(QWidget& window, Form1& form, const LayoutRow& row, const Dispatch& dispatch,
                     Fonts& fonts);
void make_timer(QWidget& window, Timer& control);

}  // namespace talmir880
