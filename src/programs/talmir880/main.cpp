// The panel: the core's Form1 behind the Qt face, on the real serial port;
// with --listen also the automation server's instrument, on the same port.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>

#include "app/form1.hpp"
#include "app/qt/font_config_reader.hpp"
#include "app/qt/form_window.hpp"
#include "app/served_panel.hpp"
#include "device/qt/qt_delivery.hpp"
#include "link/qt/qt_serial_port.hpp"
#include "net/allow_list.hpp"
#include "programs/common/command_line.hpp"
#include "programs/common/qt/instrument_clocks.hpp"
#include "programs/common/qt/stop_signals.hpp"
#include "programs/talmir880/options.hpp"
#include "scpi/qt/tcp_transport.hpp"
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

void say(const std::string& line) { std::fprintf(stderr, "talmir880: %s\n", line.c_str()); }

// A line of --log-commands: the local time, then what was sent and by whom.
void log_command(std::string_view who, std::string_view command, std::string_view line) {
  say(talmir880::programs::log_time_stamp() + " " +
      talmir880::programs::command_log_text(who, command, line));
}

// What the hand wrote to the device, for --log-commands.
struct HandLog final : talmir880::LineEvents {
  void panel_wrote(std::string_view command) override { log_command("panel", command, {}); }
};

// What the scripts had written, for --log-commands.
struct ScriptLog final : talmir880::scpi::InstrumentEvents {
  void command_written(std::string_view who, std::string_view command,
                       std::string_view line) override {
    log_command(who, command, line);
  }
};

// The instrument behind the panel and its raw socket, with the clocks it
// runs on. (VXI-11 stays with talmir880-scpi: libtirpc and Qt Network would
// cost the panel's start-up even when it serves nothing.)
struct Served {
  Served(talmir880::Form1& form, talmir880::QtSerialPort& port,
         const std::vector<talmir880::net::AddressRange>& allow)
      : guard(talmir880::net::AllowList(allow), say),
        clocks(
            [&port] {
              return talmir880::pass_quiet_time(talmir880::parse_settings(port.Settings()).baud);
            },
            [this]() -> talmir880::scpi::Instrument& { return served->instrument(); }),
        served(std::make_unique<talmir880::ServedPanel>(form, clocks.countdowns())),
        server(served->instrument(), guard) {
    served->instrument().take_turns(clocks.next_turn());
  }

  talmir880::net::PeerGuard guard;
  talmir880::programs::InstrumentClocks clocks;
  std::unique_ptr<talmir880::ServedPanel> served;
  talmir880::scpi::TcpTransport server;
};

}  // namespace

int main(int argc, char* argv[]) {
  // Asked before any display is needed.
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(talmir880::programs::panel_usage().c_str(), stdout);
      return 0;
    }
  }
  if (!has_display()) {
    std::fputs(
        "talmir880: no display (DISPLAY and WAYLAND_DISPLAY are unset); run it in a desktop "
        "session, or under a virtual one with: xvfb-run talmir880\n",
        stderr);
    return 2;
  }
  talmir880::FontConfigReader font_config;
  QApplication app(argc, argv);
  const talmir880::QtDelivery delivery;
  // The desktop entry's name, so docks and task bars (Wayland's app id)
  // match the window to its launcher.
  QGuiApplication::setDesktopFileName(QStringLiteral("io.github.talmir880.Panel"));
  // What Qt took out of the command line is gone now: read what is left.
  const talmir880::programs::ParsedPanelOptions options =
      talmir880::programs::parse_panel_options({argv + 1, argv + argc});
  if (!options.options) {
    say(options.error);
    std::fputs("Try 'talmir880 --help'.\n", stderr);
    return 2;
  }
  font_config.wait();
  // As a window close: the loop ends (a message box open then counts as
  // cancelled), the listening socket is shut, and the status is 0.
  if (const std::string why =
          talmir880::programs::on_stop_signals([] { QCoreApplication::exit(0); });
      !why.empty()) {
    std::fprintf(stderr, "talmir880: signals: %s\n", why.c_str());
    return 1;
  }

  HandLog hand_log;      // outlives the form, whose line tells it
  ScriptLog script_log;  // outlives the instrument
  talmir880::QtSerialPort port;
  talmir880::QtMessageBoxes boxes;
  talmir880::Form1 form(port, boxes);
  talmir880::FormWindow window(form);
  form.Form_Load();

  if (options.options->log_commands) form.device_line.add_listener(hand_log);
  std::unique_ptr<Served> served;
  if (options.options->listen) {
    const talmir880::programs::PanelOptions& o = *options.options;
    served = std::make_unique<Served>(form, port, o.allow);
    if (o.log_commands) {
      served->served->instrument().observe(script_log);
      served->served->instrument().log_commands(true);
    }
    std::string why;
    if (!served->server.listen(o.host, o.tcp_port, why)) {
      say("cannot listen on " + talmir880::net::address_text(o.host, o.tcp_port) + ": " + why);
      return 1;
    }
    for (const std::string& line : talmir880::programs::listening_lines(
             "listening on " + talmir880::net::address_text(o.host, served->server.port()),
             "listening", o.host, served->guard.limits())) {
      say(line);
    }
  }
  window.show();
  const int status = app.exec();
  served.reset();
  return status;
}
