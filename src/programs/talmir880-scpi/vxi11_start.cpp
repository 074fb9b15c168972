#include "programs/talmir880-scpi/vxi11_start.hpp"

#include <QHostAddress>
#include <cstdint>

#include "net/allow_list.hpp"
#include "programs/common/command_line.hpp"

namespace talmir880::programs {
namespace {

std::string numeric(const std::string& host) { return host == "localhost" ? "127.0.0.1" : host; }

}  // namespace

std::unique_ptr<vxi11::Vxi11Transport> bind_vxi11(const std::vector<scpi::Instrument*>& instruments,
                                                  net::PeerGuard& guard,
                                                  const std::string& listen_host, int port,
                                                  std::string& why) {
  const std::string host = numeric(listen_host);
  const QHostAddress address(QString::fromStdString(host));
  auto server = std::make_unique<vxi11::Vxi11Transport>(instruments, guard);
  if (address.isNull()) {
    why = host + " is not an IP address";
  } else if (!server->listen(address, static_cast<quint16>(port), why)) {
    why = "cannot listen on " + host + ":" + std::to_string(port) + ": " + why;
  }
  return why.empty() ? std::move(server) : nullptr;
}

std::unique_ptr<vxi11::Vxi11Transport> register_vxi11(
    std::unique_ptr<vxi11::Vxi11Transport> server, const std::string& why, std::size_t generators,
    const net::PeerGuard& guard, const std::string& listen_host, vxi11::RpcbindEntry& entry,
    const std::function<void(const std::string&)>& say, const std::string& program) {
  if (!server) {
    say("VXI-11 off: " + why);
    return nullptr;
  }
  const std::string host = numeric(listen_host);
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
      "VXI-11 on " + net::address_text(host, server->port()) + ", registered with rpcbind";
  if (generators > 1) where += ", devices inst0 to inst" + std::to_string(generators - 1);
  for (const std::string& line : listening_lines(where, "VXI-11", host, guard.limits())) {
    say(line);
  }
  return server;
}

}  // namespace talmir880::programs
