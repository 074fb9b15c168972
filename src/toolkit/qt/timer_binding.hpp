#pragma once

#include "toolkit/controls.hpp"

class QTimer;

namespace talmir880 {

// A Timer control run by a QTimer: enabling the control (again) starts a
// fresh interval, disabling stops it, and each timeout runs the control's
// Tick. Qt Core only, so a program without widgets can run timers too. The
// control then watches the QTimer by reference: clear its watcher
// (on_change({})) before the QTimer goes.
void bind(Timer& control, QTimer& timer);

}  // namespace talmir880
