// talmir880-scpi: the TALMIR-880 as a SCPI instrument, on a raw TCP socket
// or on standard input and output. Headless: Qt Core, Network, SerialPort.
#include <QCoreApplication>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "device/qt/qt_delivery.hpp"
#include "net/peer_guard.hpp"
#include "programs/common/qt/stop_signals.hpp"
#include "programs/talmir880-scpi/faces.hpp"
#include "programs/talmir880-scpi/journal.hpp"
#include "programs/talmir880-scpi/options.hpp"
#include "programs/talmir880-scpi/served_generator.hpp"
#include "programs/talmir880-scpi/server_exit.hpp"
#include "programs/talmir880-scpi/web_start.hpp"

namespace {

using namespace talmir880::programs;

// The status to end with when the command line asks for no server: a
// mistake, --help or --version.
std::optional<int> answered_at_once(const ParsedServerOptions& parsed) {
  if (!parsed.options) {
    say(parsed.error);
    std::fputs("Try 'talmir880-scpi --help'.\n", stderr);
    return 2;
  }
  if (parsed.options->help) {
    std::fputs(server_usage().c_str(), stdout);
    return 0;
  }
  if (parsed.options->version) {
    std::printf("talmir880-scpi %s\n", TALMIR880_VERSION);
    return 0;
  }
  return std::nullopt;
}

// A face the options ask for and this build lacks: the status to end with,
// or said and served without it.
std::optional<int> refused_for_this_build(const ServerOptions& options) {
  if (!kServesStdio && options.stdio) {
    say("--stdio: not in this build (it needs a POSIX system); use the raw socket");
    return 2;
  }
  if (!kServesVxi11 && options.vxi11) {
    say("VXI-11 off: not in this build (it needs libtirpc and rpcbind)");
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char* argv[]) {
  using namespace talmir880;
  const ParsedServerOptions parsed = parse_server_options({argv + 1, argv + argc});
  if (const std::optional<int> status = answered_at_once(parsed)) return *status;
  const ServerOptions& options = *parsed.options;

  QCoreApplication app(argc, argv);

  const talmir880::QtDelivery delivery;
  if (const std::optional<int> status = refused_for_this_build(options)) return *status;

  // What the files hold is checked before anything listens.
  std::string error;
  const std::optional<std::string> password = web_password(options, error);
  if (!password) {
    say(error);
    return 1;
  }
  const std::optional<tls::Credentials> credentials = web_credentials(options, error, say);
  if (!credentials) {
    say(error);
    return 1;
  }

  ServedGenerators generators;
  for (const PortChoice& choice : options.ports) {
    generators.push_back(std::make_unique<ServedGenerator>(choice, options));
  }
  net::PeerGuard guard(net::AllowList(options.allow), journal);
  ServerFaces faces(options, generators, guard);
  ServerExit exit(options, generators, faces);
  if (const std::string why = on_stop_signals([&exit] { exit.request(); }); !why.empty()) {
    say("signals: " + why);
    return 1;
  }
  int status = 0;
  if (const int failed = faces.open(*password, *credentials, [&status, &exit](int done) {
        status = done;
        exit.request();
      })) {
    return failed;
  }
  for (const auto& generator : generators) generator->take_over(options);
  const int loop = app.exec();
  return loop != 0 ? loop : status;
}
