// talmir880-scpi: the TALMIR-880 as a SCPI instrument, on a raw TCP socket
// or on standard input and output. Headless: Qt Core, Network, SerialPort.
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "device/device_session.hpp"
#include "link/qt/port_names.hpp"
#include "link/qt/qt_countdown.hpp"
#include "link/qt/qt_serial_port.hpp"
#include "link/qt/qt_tcp_port.hpp"
#include "programs/common/command_line.hpp"
#include "programs/common/qt/instrument_clocks.hpp"
#include "programs/common/qt/stop_signals.hpp"
#include "programs/talmir880-scpi/mdns_start.hpp"
#include "programs/talmir880-scpi/options.hpp"
#include "programs/talmir880-scpi/vxi11_start.hpp"
#include "programs/talmir880-scpi/web_start.hpp"
#include "scpi/allow_list.hpp"
#include "scpi/instrument.hpp"
#include "scpi/qt/stdio_transport.hpp"
#include "scpi/qt/tcp_transport.hpp"

namespace {

void say(const std::string& line) { std::fprintf(stderr, "talmir880-scpi: %s\n", line.c_str()); }

// A line with the local time, for a journal read later.
void log(const std::string& line) { say(talmir880::programs::log_time_stamp() + " " + line); }

// What the instrument does by itself, in the journal: the device lost and
// back (once each way), and switch-offs of its own.
class JournalEvents : public talmir880::scpi::InstrumentEvents {
 public:
  JournalEvents(std::string device, bool reachable, int off_after_s)
      : device_(std::move(device)), reachable_(reachable), off_after_s_(off_after_s) {}

  void reachability_changed(talmir880::DeviceFault fault) override {
    const bool now = fault == talmir880::DeviceFault::none;
    if (now == reachable_) return;
    reachable_ = now;
    log(device_ + ": " + (now ? std::string("device back") : std::string(cause(fault))));
  }

  void switching_off(talmir880::scpi::OffBecause why) override {
    log(device_ + ": RF and modulation off: " +
        (why == talmir880::scpi::OffBecause::unused
             ? std::string("the last client has gone")
             : "no command for " + std::to_string(off_after_s_) + " s"));
  }

 private:
  std::string device_;
  bool reachable_;
  int off_after_s_;
};

// The status to end with when the command line asks for no server: a
// mistake, --help or --version.
std::optional<int> answered_at_once(const talmir880::programs::ParsedServerOptions& parsed) {
  if (!parsed.options) {
    say(parsed.error);
    std::fputs("Try 'talmir880-scpi --help'.\n", stderr);
    return 2;
  }
  if (parsed.options->help) {
    std::fputs(talmir880::programs::server_usage().c_str(), stdout);
    return 0;
  }
  if (parsed.options->version) {
    std::printf("talmir880-scpi %s\n", TALMIR880_VERSION);
    return 0;
  }
  return std::nullopt;
}

// The switch-offs and the command log the options ask for.
void keep_safe_and_log(talmir880::scpi::Instrument& instrument,
                       const talmir880::programs::ServerOptions& options,
                       talmir880::Countdown& unattended) {
  instrument.keep_safe({options.off_when_unused, options.off_after_s > 0 ? &unattended : nullptr});
  if (options.log_commands) {
    instrument.log_commands(
        [](std::string_view who, std::string_view command, std::string_view line) {
          log(talmir880::programs::command_log_text(who, command, line));
        });
  }
}

// The raw socket, then VXI-11 beside it: 0, or the status to end with.
int listen_raw(talmir880::scpi::TcpTransport& server,
               const talmir880::programs::ServerOptions& options,
               const talmir880::scpi::PeerGuard& guard, const std::string& device) {
  using namespace talmir880;
  if (!scpi::TcpTransport::is_address(options.host)) {
    say("--listen: " + options.host + " is not an IP address");
    return 2;
  }
  std::string why;
  if (!server.listen(options.host, options.tcp_port, why)) {
    say("cannot listen on " + options.host + ":" + std::to_string(options.tcp_port) + ": " + why);
    return 1;
  }
  for (const std::string& line : programs::listening_lines(
           "listening on " + scpi::address_text(options.host, server.port()) + ", device " + device,
           "listening", options.host, guard.limits())) {
    say(line);
  }
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  using namespace talmir880;
  const programs::ParsedServerOptions parsed =
      programs::parse_server_options({argv + 1, argv + argc});
  if (const std::optional<int> status = answered_at_once(parsed)) return *status;
  const programs::ServerOptions& options = *parsed.options;

  QCoreApplication app(argc, argv);

  std::unique_ptr<SerialPort> line;
  std::string device;
  bool present = true;  // a TCP link is tried at the first command, and told then
  if (!options.remote_host.empty()) {
    auto remote = std::make_unique<QtTcpPort>(options.remote_host, options.remote_port);
    device = remote->name();
    line = std::move(remote);
  } else {
    auto serial = std::make_unique<QtSerialPort>();
    device = options.device.empty() ? "COM" + std::to_string(options.comm_port) : options.device;
    if (options.device.empty()) {
      serial->set_CommPort(options.comm_port);
    } else {
      serial->set_device_path(options.device);
    }
    // The adapter may be plugged in later: said, and served all the same.
    present = options.device.empty() ? serial_port_location(options.comm_port).has_value()
                                     : ::access(options.device.c_str(), F_OK) == 0;
    line = std::move(serial);
  }
  SerialPort& port = *line;
  port.set_Settings(options.settings);
  if (!present) {
    say(device + ": no such port; commands that need the device get -241 until it is there");
  }

  JournalEvents journal(device, present, options.off_after_s);  // outlives the instrument
  // The countdowns call the instrument only from the event loop, by which
  // time it exists.
  std::unique_ptr<scpi::Instrument> instrument;
  const std::chrono::milliseconds quiet_time =
      pass_quiet_time(parse_settings(options.settings).baud);
  programs::InstrumentClocks clocks([quiet_time] { return quiet_time; },
                                    [&instrument]() -> scpi::Instrument& { return *instrument; });
  instrument = std::make_unique<scpi::Instrument>(port, clocks.countdowns());
  instrument->observe(journal);

  QtCountdown unattended(std::chrono::seconds(options.off_after_s),
                         [&instrument] { instrument->idle_ran_out(); });
  keep_safe_and_log(*instrument, options, unattended);

  int status = 0;
  scpi::PeerGuard guard(scpi::AllowList(options.allow), [](const std::string& line) { log(line); });
  std::unique_ptr<scpi::StdioTransport> session;
  std::unique_ptr<scpi::TcpTransport> server;
  vxi11::RpcbindEntry rpcbind_entry;  // removed when main returns, after the loop
  std::unique_ptr<vxi11::Vxi11Transport> vxi11_server;
  std::unique_ptr<web::WebServer> web_server;
  // Withdrawn first at the end, before the faces it announces close.
  std::unique_ptr<programs::ServerAnnouncement> announcement;
  // With --off-at-exit the lines already received run first, then the
  // switch-off, then the loop ends; a second signal ends it at once.
  bool stopping = false;
  const auto stop = [&] {
    if (stopping || !options.off_at_exit) {
      QCoreApplication::quit();
      return;
    }
    stopping = true;
    instrument->keep_safe({});  // one switch-off, the one for the exit
    announcement.reset();
    server.reset();
    vxi11_server.reset();
    web_server.reset();
    log(device + ": RF and modulation off: the server stops");
    instrument->switch_off([] { QCoreApplication::quit(); });
  };
  if (!programs::on_stop_signals(stop)) {
    std::perror("talmir880-scpi: signals");
    return 1;
  }
  if (options.stdio) {
    session = std::make_unique<scpi::StdioTransport>(*instrument, [&status, &stop](int done) {
      status = done;
      stop();
    });
  } else {
    server = std::make_unique<scpi::TcpTransport>(*instrument, guard);
    if (const int status = listen_raw(*server, options, guard, device)) return status;
    if (options.vxi11) {
      vxi11_server =
          programs::serve_vxi11(*instrument, guard, options.vxi11_host, options.vxi11_port,
                                rpcbind_entry, say, "talmir880-scpi");
    }
    if (options.http) {
      web_server = programs::serve_web(*instrument, guard, options, server->port(), say);
      if (!web_server) return 1;
    }
    if (options.mdns) {
      announcement =
          programs::announce_server({{instrument->identity().serial, server->port(), present}},
                                    {options.host, vxi11_server != nullptr, options.vxi11_host,
                                     web_server ? web_server->port() : 0, options.http_host},
                                    say);
    }
  }
  const int loop = app.exec();
  return loop != 0 ? loop : status;
}
