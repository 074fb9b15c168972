#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mdns/qt/announcer.hpp"
#include "mdns/services.hpp"

namespace talmir880::programs {

// The server's services as DNS-SD announces them, kept in step with its
// generators.
class ServerAnnouncement {
 public:
  ServerAnnouncement(mdns::Faces faces, const std::function<void(const std::string&)>& say);

  // The generators as they are now: one whose port went is withdrawn, one
  // whose port came back announced again.
  void update(const std::vector<mdns::Generator>& generators);

 private:
  mdns::Faces faces_;
  std::string host_;
  mdns::Announcer announcer_;
};

// Announces the server through the system's Avahi daemon: each generator
// ({its *IDN? serial field, its raw port, whether its port is there}) on
// the interfaces its listening address reaches, VXI-11 when registered, the
// web page when served. Without a daemon, one line through `say`, and the
// server serves on.
std::unique_ptr<ServerAnnouncement> announce_server(
    const std::vector<mdns::Generator>& generators, const mdns::Faces& faces,
    const std::function<void(const std::string&)>& say);

}  // namespace talmir880::programs
