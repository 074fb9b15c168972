// talmir880-tango: the TALMIR-880 as a device of a Tango control system,
// class Talmir880, with the raw SCPI socket and the web page beside it where
// the device's properties ask for them. Started as Tango starts servers:
//   talmir880-tango INSTANCE                      (TANGO_HOST names the database)
//   talmir880-tango INSTANCE -file=FILE -ORBendPoint giop:tcp:ADDR:PORT
#include <QCoreApplication>
#include <QMetaObject>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "control/orb_endpoint.hpp"
#include "control/tango/tango_server.hpp"
#include "device/qt/qt_delivery.hpp"
#include "programs/talmir880-scpi/journal.hpp"
#include "programs/talmir880-tango/served_device.hpp"

namespace {

using namespace talmir880;

// Every device's faces close and its switch-off goes, then the loop ends.
void stop_all(std::vector<std::unique_ptr<programs::ServedDevice>>& devices) {
  static bool stopping = false;
  if (stopping) {
    QCoreApplication::quit();
    return;
  }
  stopping = true;
  auto left = std::make_shared<std::size_t>(devices.size());
  if (*left == 0) QCoreApplication::quit();
  for (const auto& device : devices) {
    device->stop([left] {
      if (--*left == 0) QCoreApplication::quit();
    });
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  programs::speak_as("talmir880-tango");
  QCoreApplication app(argc, argv);
  const QtDelivery delivery;

  std::vector<std::unique_ptr<programs::ServedDevice>> devices;
  auto make = [&devices](const std::string& device, const control::Properties& properties,
                         std::string& error) -> control::DeviceFace* {
    std::unique_ptr<programs::ServedDevice> served =
        programs::ServedDevice::make(device, properties, error);
    if (!served) {
      programs::say(error);
      return nullptr;
    }
    devices.push_back(std::move(served));
    return &devices.back()->face();
  };
  const char* environment = std::getenv("ORBendPoint");
  control::OrbArguments orb =
      control::bound_orb({argv, argv + argc}, environment != nullptr ? environment : "");
  if (!orb.beyond_loopback.empty()) programs::say(orb.beyond_loopback);
  std::vector<char*> arguments;
  for (std::string& a : orb.arguments) arguments.push_back(a.data());
  arguments.push_back(nullptr);
  try {
    control::TangoServer server(static_cast<int>(orb.arguments.size()), arguments.data(), make);
    server.on_stop_signal([&devices] {
      QMetaObject::invokeMethod(
          QCoreApplication::instance(), [&devices] { stop_all(devices); }, Qt::QueuedConnection);
    });
    server.start();
    programs::say("serving " + std::to_string(devices.size()) + " device(s)");
    control::TangoServer::end(app.exec());
  } catch (const std::runtime_error& e) {
    programs::say(e.what());
    return 1;
  }
}
