#include "programs/talmir880-scpi/vxi11_start.hpp"

#include <QHostAddress>
#include <cstdint>

#include "programs/common/command_line.hpp"
#include "scpi/allow_list.hpp"

namespace talmir880::programs {

// VXI-11 beside the raw socket, when it can listen and rpcbind takes its
// entry; else one line says why it is off, and the raw socket serves alone.
std::unique_ptr<vxi11::Vxi11Transport> serve_vxi11(
    const std::vector<scpi::Instrument*>& instruments, scpi::PeerGuard& guard,
    const std::string& listen_host, int port, vxi11::RpcbindEntry& entry,
    const std::function<void(const std::string&)>& say, const std::string& program) {
  const std::string host = listen_host == "localhost" ? "127.0.0.1" : listen_host;
  const QHostAddress address(QString::fromStdString(host));
  auto server = std::make_unique<vxi11::Vxi11Transport>(instruments, guard);
  std::string why;
  if (address.isNull()) {
    why = host + " is not an IP address";
  } else if (!server->listen(address, static_cast<quint16>(port), why)) {
    why = "cannot listen on " + host + ":" + std::to_string(port) + ": " + why;
  }
  if (!why.empty()) {
    say("VXI-11 off: " + why);
    return nullptr;
  }
  std::uint16_t other = 0;
  switch (entry.set(host, server->port(), other)) {
    case vxi11::RpcbindEntry::Outcome::no_rpcbind:
      say("VXI-11 off: rpcbind is not running; start it (systemctl start rpcbind, or rpcbind "
          "as root) and restart " +
          program);
      return nullptr;
    case vxi11::RpcbindEntry::Outcome::taken:
      say("VXI-11 off: another server on this machine (port " + std::to_string(other) +
          ") is registered with rpcbind for VXI-11; serving the raw socket only");
      return nullptr;
    case vxi11::RpcbindEntry::Outcome::refused:
      say("VXI-11 off: rpcbind refused the registration");
      return nullptr;
    case vxi11::RpcbindEntry::Outcome::replaced:
      say("VXI-11: replaced the rpcbind entry of a server that is gone (port " +
          std::to_string(other) + ")");
      break;
    case vxi11::RpcbindEntry::Outcome::registered:
      break;
  }
  std::string where =
      "VXI-11 on " + scpi::address_text(host, server->port()) + ", registered with rpcbind";
  if (instruments.size() > 1) {
    where += ", devices inst0 to inst" + std::to_string(instruments.size() - 1);
  }
  for (const std::string& line : listening_lines(where, "VXI-11", host, guard.limits())) {
    say(line);
  }
  return server;
}

}  // namespace talmir880::programs
