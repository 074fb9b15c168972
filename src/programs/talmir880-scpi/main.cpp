// talmir880-scpi: the TALMIR-880 as a SCPI instrument, on a raw TCP socket
// or on standard input and output. Headless: Qt Core, Network, SerialPort.
#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
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
#include "net/allow_list.hpp"
#include "programs/common/command_line.hpp"
#include "programs/common/qt/instrument_clocks.hpp"
#include "programs/common/qt/stop_signals.hpp"
#include "programs/talmir880-scpi/options.hpp"
#include "programs/talmir880-scpi/web_start.hpp"
#include "scpi/instrument.hpp"
#include "scpi/qt/tcp_transport.hpp"
#include "scpi/status.hpp"
// The faces a build may lack (options.hpp says which it has).
#if TALMIR880_DNS_SD
#include "programs/talmir880-scpi/mdns_start.hpp"
#endif
#if TALMIR880_VXI11
#include "programs/talmir880-scpi/vxi11_start.hpp"
#endif
#if TALMIR880_STDIO
#include "scpi/qt/stdio_transport.hpp"
#endif

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
    reached_ = reached_ || now;
    if (now == reachable_) return;
    reachable_ = now;
    log(device_ + ": " + (now ? std::string("device back") : std::string(cause(fault))));
  }

  bool reachable() const { return reachable_; }
  // Whether the device has been reached since the start.
  bool reached() const { return reached_; }

  void switching_off(talmir880::scpi::OffBecause why) override {
    using talmir880::scpi::OffBecause;
    log(device_ + ": " +
        (why == OffBecause::unattended
             ? "RF and modulation off: no command for " + std::to_string(off_after_s_) + " s"
             : talmir880::scpi::off_said(why)));
  }

 private:
  std::string device_;
  bool reachable_;
  bool reached_ = false;
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

// One generator the server serves: its port, its instrument with the
// clocks and switch-offs it runs on, and its lines in the journal.
class ServedGenerator {
 public:
  ServedGenerator(const talmir880::programs::PortChoice& choice,
                  const talmir880::programs::ServerOptions& options)
      : choice_(choice),
        line_(open_line(choice)),
        device_(choice.port_text()),
        // A TCP link is tried at the first command, and told then; a host
        // name that does not resolve is told now.
        journal_(device_, choice.remote_host.empty() ? adapter_there(choice) : resolves(choice),
                 options.off_after_s),
        clocks_([quiet_time = talmir880::pass_quiet_time(
                     talmir880::parse_settings(options.settings).baud)] { return quiet_time; },
                [this]() -> talmir880::scpi::Instrument& { return *instrument_; }),
        instrument_(std::make_unique<talmir880::scpi::Instrument>(*line_, clocks_.countdowns())),
        unattended_(std::chrono::seconds(options.off_after_s),
                    [this] { instrument_->idle_ran_out(); }) {
    line_->set_Settings(options.settings);
    // The adapter may be plugged in later, the name resolve later: said, and
    // served all the same.
    if (!journal_.reachable() && choice.remote_host.empty()) {
      say(device_ + ": no such port; commands that need the device get " +
          std::to_string(talmir880::scpi::kHardwareMissing) + " until it is there");
    } else if (!journal_.reachable()) {
      say(device_ + ": the host name " + choice.remote_host + " does not resolve (" + unresolved_ +
          "); commands that need the device get " +
          std::to_string(talmir880::scpi::kHardwareMissing) + " until it does");
    }
    instrument_->name(choice.name);
    instrument_->set_baud(talmir880::parse_settings(options.settings).baud);
    instrument_->take_turns(clocks_.next_turn());
    instrument_->observe(journal_);
    keep_safe(options);
  }
  ServedGenerator(const ServedGenerator&) = delete;
  ServedGenerator& operator=(const ServedGenerator&) = delete;

  talmir880::scpi::Instrument& instrument() { return *instrument_; }
  const std::string& device() const { return device_; }
  // Whether it is there to be announced: not after the device went; for a
  // serial port only while the adapter's device is (cheap enough to ask
  // every few seconds; nothing is opened), for one whose host name did not
  // resolve at start only once it has been reached.
  bool present() const {
    if (!journal_.reachable()) return false;
    if (!choice_.remote_host.empty()) return unresolved_.empty() || journal_.reached();
    return adapter_there(choice_);
  }
  // A device that went, or was absent at start, is tried again where it
  // may be back, so that it is announced again without a client's command.
  void look_for_device() {
    if (!journal_.reachable() && (!choice_.remote_host.empty() || adapter_there(choice_))) {
      instrument_->probe();
    }
  }

  // A server takes a generator over as an instrument powers up: off, once
  // its faces listen, so that the first line says where.
  void take_over(const talmir880::programs::ServerOptions& options) {
    instrument_->switch_off_when_reached(!options.leave_running);
  }

  // The switch-offs and the command log the options ask for.
  void keep_safe(const talmir880::programs::ServerOptions& options) {
    instrument_->keep_safe(
        {options.off_when_unused, options.off_after_s > 0 ? &unattended_ : nullptr});
    if (options.log_commands) {
      // With several generators each line names its port first.
      const std::string port = options.ports.size() > 1 ? device_ + ": " : "";
      instrument_->log_commands(
          [port](std::string_view who, std::string_view command, std::string_view line) {
            log(port + talmir880::programs::command_log_text(who, command, line));
          });
    }
  }

 private:
  bool resolves(const talmir880::programs::PortChoice& choice) {
    return talmir880::QtTcpPort::resolves(choice.remote_host, unresolved_);
  }

  static bool adapter_there(const talmir880::programs::PortChoice& choice) {
    std::error_code unknown;  // a device that cannot be looked at is not there
    return choice.device.empty() ? talmir880::serial_port_location(choice.comm_port).has_value()
                                 : std::filesystem::exists(choice.device, unknown);
  }

  std::unique_ptr<talmir880::SerialPort> open_line(const talmir880::programs::PortChoice& choice) {
    using namespace talmir880;
    if (!choice.remote_host.empty()) {
      return std::make_unique<QtTcpPort>(choice.remote_host, choice.remote_port);
    }
    auto serial = std::make_unique<QtSerialPort>();
    if (choice.device.empty()) {
      serial->set_CommPort(choice.comm_port);
    } else {
      serial->set_device_path(choice.device);
    }
    return serial;
  }

  talmir880::programs::PortChoice choice_;
  std::unique_ptr<talmir880::SerialPort> line_;
  std::string device_;
  std::string unresolved_;  // why the host name did not resolve at start
  JournalEvents journal_;   // outlives the instrument
  talmir880::programs::InstrumentClocks clocks_;
  std::unique_ptr<talmir880::scpi::Instrument> instrument_;
  talmir880::QtCountdown unattended_;
};

// Generator i's raw socket on the listening port + i (any free port for
// each when that is 0), listening but not yet said: 0, or the status to end
// with.
int bind_raw(std::vector<std::unique_ptr<talmir880::scpi::TcpTransport>>& servers,
             std::vector<std::unique_ptr<ServedGenerator>>& generators,
             const talmir880::programs::ServerOptions& options, talmir880::net::PeerGuard& guard) {
  using namespace talmir880;
  if (!scpi::TcpTransport::is_address(options.host)) {
    say("--listen: " + options.host + " is not an IP address");
    return 2;
  }
  for (std::size_t i = 0; i < generators.size(); ++i) {
    auto& server = servers.emplace_back(
        std::make_unique<scpi::TcpTransport>(generators[i]->instrument(), guard));
    const int port = options.tcp_port == 0 ? 0 : options.tcp_port + static_cast<int>(i);
    std::string why;
    if (!server->listen(options.host, port, why)) {
      say("cannot listen on " + net::address_text(options.host, port) + ": " + why);
      return 1;
    }
  }
  return 0;
}

// Where each raw socket listens, once everything does; the warning once,
// after the first.
void say_listening(const std::vector<std::unique_ptr<talmir880::scpi::TcpTransport>>& servers,
                   const std::vector<std::unique_ptr<ServedGenerator>>& generators,
                   const talmir880::programs::ServerOptions& options,
                   const talmir880::net::PeerGuard& guard) {
  using namespace talmir880;
  for (std::size_t i = 0; i < generators.size(); ++i) {
    std::string where = "listening on " + net::address_text(options.host, servers[i]->port()) +
                        ", device " + generators[i]->device();
    if (options.ports[i].name != generators[i]->device()) {
      where += ", named " + options.ports[i].name;
    }
    const std::vector<std::string> lines =
        programs::listening_lines(where, "listening", options.host, guard.limits());
    for (std::size_t l = 0; l < (i == 0 ? lines.size() : 1); ++l) say(lines[l]);
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  using namespace talmir880;
  const programs::ParsedServerOptions parsed =
      programs::parse_server_options({argv + 1, argv + argc});
  if (const std::optional<int> status = answered_at_once(parsed)) return *status;
  const programs::ServerOptions& options = *parsed.options;

  QCoreApplication app(argc, argv);
  if (!programs::kServesStdio && options.stdio) {
    say("--stdio: not in this build (it needs a POSIX system); use the raw socket");
    return 2;
  }
  if (!programs::kServesVxi11 && options.vxi11) {
    say("VXI-11 off: not in this build (it needs libtirpc and rpcbind)");
  }

  // What the files hold is checked before anything listens.
  std::string password_error;
  const std::optional<std::string> password = programs::web_password(options, password_error);
  if (!password) {
    say(password_error);
    return 1;
  }
  std::string tls_error;
  const std::optional<tls::Credentials> credentials =
      programs::web_credentials(options, tls_error, say);
  if (!credentials) {
    say(tls_error);
    return 1;
  }

  std::vector<std::unique_ptr<ServedGenerator>> generators;
  std::vector<scpi::Instrument*> instruments;
  for (const programs::PortChoice& choice : options.ports) {
    generators.push_back(std::make_unique<ServedGenerator>(choice, options));
    instruments.push_back(&generators.back()->instrument());
  }

  int status = 0;
  net::PeerGuard guard(net::AllowList(options.allow), [](const std::string& line) { log(line); });
#if TALMIR880_STDIO
  std::unique_ptr<scpi::StdioTransport> session;
#endif
  std::vector<std::unique_ptr<scpi::TcpTransport>> servers;
#if TALMIR880_VXI11
  vxi11::RpcbindEntry rpcbind_entry;  // removed when main returns, after the loop
  std::unique_ptr<vxi11::Vxi11Transport> vxi11_server;
#endif
  std::unique_ptr<web::WebServer> web_server;
#if TALMIR880_DNS_SD
  // Withdrawn first at the end, before the faces it announces close.
  std::unique_ptr<programs::ServerAnnouncement> announcement;
  QTimer presence;
  const auto announced = [&] {
    std::vector<mdns::Generator> list;
    for (std::size_t i = 0; i < generators.size(); ++i) {
      list.push_back({generators[i]->instrument().identity().serial, servers[i]->port(),
                      generators[i]->present()});
    }
    return list;
  };
#endif
  // With --off-at-exit the lines already received run first, then the
  // switch-off of every generator, then the loop ends; a second signal
  // ends it at once.
  bool stopping = false;
  std::size_t switching_off = 0;
  const auto stop = [&] {
    if (stopping || !options.off_at_exit) {
      QCoreApplication::quit();
      return;
    }
    stopping = true;
#if TALMIR880_DNS_SD
    announcement.reset();
#endif
    servers.clear();
#if TALMIR880_VXI11
    vxi11_server.reset();
#endif
    web_server.reset();
    switching_off = generators.size();
    for (const auto& generator : generators) {
      generator->instrument().keep_safe({});  // one switch-off, the one for the exit
      log(generator->device() + ": RF and modulation off: the server stops");
      generator->instrument().switch_off([&switching_off] {
        if (--switching_off == 0) QCoreApplication::quit();
      });
    }
  };
  if (const std::string why = programs::on_stop_signals(stop); !why.empty()) {
    say("signals: " + why);
    return 1;
  }
#if TALMIR880_STDIO
  if (options.stdio) {
    session =
        std::make_unique<scpi::StdioTransport>(*instruments.front(), [&status, &stop](int done) {
          status = done;
          stop();
        });
  } else
#endif
  {
    // Every face listens before any is said or registered: a start that
    // fails says why and nothing else.
    if (const int status = bind_raw(servers, generators, options, guard)) return status;
#if TALMIR880_VXI11
    std::string vxi11_off;
    if (options.vxi11) {
      vxi11_server = programs::bind_vxi11(instruments, guard, options.vxi11_host,
                                          options.vxi11_port, vxi11_off);
    }
#endif
    if (options.http || options.https) {
      std::vector<web::WebGenerator> served;
      for (std::size_t i = 0; i < instruments.size(); ++i) {
        served.push_back({instruments[i], servers[i]->port()});
      }
      web_server = programs::bind_web(std::move(served), guard, options, *password, *credentials,
                                      say, [](const std::string& line) { log(line); });
      if (!web_server) return 1;
    }
    say_listening(servers, generators, options, guard);
    [[maybe_unused]] bool vxi11_registered = false;
#if TALMIR880_VXI11
    if (options.vxi11) {
      vxi11_server =
          programs::register_vxi11(std::move(vxi11_server), vxi11_off, instruments.size(), guard,
                                   options.vxi11_host, rpcbind_entry, say, "talmir880-scpi");
      vxi11_registered = vxi11_server != nullptr;
    }
#endif
    if (web_server) {
      programs::say_web(*web_server, options, !password->empty(), credentials->fingerprint, say);
    }
#if TALMIR880_DNS_SD
    if (options.mdns) {
      std::vector<mdns::Generator> last = announced();
      announcement = programs::announce_server(
          last,
          {options.host, vxi11_registered, options.vxi11_host,
           web_server && options.http ? web_server->port() : 0, options.http_host,
           web_server ? web_server->https_port() : 0, options.https_host},
          say);
      // The services follow the ports: an adapter pulled is withdrawn, one
      // plugged in announced, within the period.
      QObject::connect(&presence, &QTimer::timeout, [&, last]() mutable {
        for (const auto& generator : generators) generator->look_for_device();
        std::vector<mdns::Generator> now = announced();
        const auto same = [](const mdns::Generator& a, const mdns::Generator& b) {
          return a.present == b.present;
        };
        if (!announcement || std::equal(now.begin(), now.end(), last.begin(), last.end(), same))
          return;
        last = std::move(now);
        announcement->update(last);
      });
      presence.start(std::chrono::seconds(2));
    }
#endif
  }
  for (const auto& generator : generators) generator->take_over(options);
  const int loop = app.exec();
  return loop != 0 ? loop : status;
}
