#pragma once

// One Talmir880 device of the Tango server: the generator on the port its
// properties name, the faces beside Tango they ask for (ScpiListen,
// HttpListen), and the face Tango reads and writes through.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "control/device_face.hpp"
#include "control/tango/tango_server.hpp"
#include "net/peer_guard.hpp"
#include "programs/talmir880-scpi/faces.hpp"
#include "programs/talmir880-scpi/options.hpp"
#include "programs/talmir880-scpi/served_generator.hpp"
#include "programs/talmir880-tango/waker.hpp"

namespace talmir880::programs {

// The server's command line the properties stand for, or nothing with why.
std::optional<std::vector<std::string>> arguments_of(const control::Properties& properties,
                                                     std::string& error);

class ServedDevice {
 public:
  // Nothing, with why in one sentence, when a property is missing or bad
  // or a face cannot listen.
  static std::unique_ptr<ServedDevice> make(const std::string& device,
                                            const control::Properties& properties,
                                            std::string& error);
  ~ServedDevice();
  ServedDevice(const ServedDevice&) = delete;
  ServedDevice& operator=(const ServedDevice&) = delete;

  control::DeviceFace& face() { return *face_; }
  // The faces close; with OffAtExit the switch-off goes, then `done`.
  void stop(std::function<void()> done);

 private:
  explicit ServedDevice(ServerOptions options);

  ServerOptions options_;
  ServedGenerators generators_;
  net::PeerGuard guard_;
  std::unique_ptr<ServerFaces> faces_;
  std::unique_ptr<Waker> waker_;
  std::unique_ptr<control::DeviceFace> face_;
};

}  // namespace talmir880::programs
