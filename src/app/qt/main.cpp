// The panel: the core's Form1 behind the Qt face, on the real serial port.
#include <cstdio>
#include <cstdlib>

#include <QApplication>

#include "app/form1.hpp"
#include "app/qt/font_config_reader.hpp"
#include "app/qt/form_window.hpp"
#include "link/qt/qt_serial_port.hpp"
#include "toolkit/qt/qt_message_boxes.hpp"

namespace {

// Without a display Qt would stop with a message about platform plugins;
// say plainly what is missing instead.
bool has_display() {
#if defined(_WIN32) || defined(__APPLE__)
  return true;
#else
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
#endif
}

}  // namespace

int main(int argc, char* argv[]) {
  if (!has_display()) {
    std::fputs(
        "talmir880: no display (DISPLAY and WAYLAND_DISPLAY are unset); run it in a desktop "
        "session, or under a virtual one with: xvfb-run talmir880\n",
        stderr);
    return 2;
  }
  talmir880::FontConfigReader font_config;
  QApplication app(argc, argv);
  // The desktop entry's name, so docks and task bars (Wayland's app id)
  // match the window to its launcher.
  QGuiApplication::setDesktopFileName(QStringLiteral("io.github.talmir880.Panel"));
  font_config.wait();

  talmir880::QtSerialPort port;
  talmir880::QtMessageBoxes boxes;
  talmir880::Form1 form(port, boxes);
  talmir880::FormWindow window(form);
  form.Form_Load();
  window.show();
  return app.exec();
}
