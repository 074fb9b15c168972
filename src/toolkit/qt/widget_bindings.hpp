#pragma once

#include <functional>
#include <string>
#include <string_view>

#include <QColor>
#include <QString>

#include "toolkit/controls.hpp"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QWidget;

namespace talmir880 {

// Runs one event from the outside world. The panel hands Form1::run, so a
// port fault that escapes a handler is told to the user instead of
// unwinding through the event loop.
using Dispatch = std::function<void(const std::function<void()>&)>;

// Each bind makes the widget show the control's current state, follows every
// later change of the control, and sends the widget's user events to the
// control through the dispatcher. (Timers need no widget: timer_binding.hpp.) The control then
// watches the widget by reference: clear its watcher (on_change({})) before the widget goes.
void bind(Window& control, QWidget& window);
void bind(Button& control, QPushButton& widget, const Dispatch& dispatch);
void bind(Label& control, QLabel& widget);
void bind(TextBox& control, QLineEdit& widget, const Dispatch& dispatch);
void bind(ComboBox& control, QComboBox& widget, const Dispatch& dispatch);
void bind(ProgressBar& control, QProgressBar& widget);

QString to_qt(std::string_view utf8);
std::string to_utf8(const QString& text);
// An OLE colour value: red in the lowest byte, then green, then blue.
QColor ole_colour(int value);

}  // namespace talmir880
