#include "vxi11/qt/rpcbind_entry.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <rpc/rpc.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "vxi11/messages.hpp"

namespace talmir880::vxi11 {
namespace {

bool_t no_data(XDR*, ...) { return TRUE; }

bool connects(const sockaddr* address, socklen_t size) {
  const int fd = ::socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool ok = ::connect(fd, address, size) == 0;
  ::close(fd);
  return ok;
}

sockaddr_in loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Asked before anything else, so that a machine without rpcbind costs no
// wait for libtirpc's retries.
bool rpcbind_answers() {
  sockaddr_un local{};
  local.sun_family = AF_UNIX;
  std::strncpy(local.sun_path, _PATH_RPCBINDSOCK, sizeof local.sun_path - 1);
  if (connects(reinterpret_cast<const sockaddr*>(&local), sizeof local)) return true;
  const sockaddr_in tcp = loopback(PMAPPORT);
  return connects(reinterpret_cast<const sockaddr*>(&tcp), sizeof tcp);
}

std::uint16_t registered_port() {
  sockaddr_in rpcbind = loopback(PMAPPORT);
  return pmap_getport(&rpcbind, kDeviceCore, kDeviceCoreVersion, IPPROTO_TCP);
}

// Whether a VXI-11 server answers the null procedure there.
bool answers(std::uint16_t port) {
  sockaddr_in address = loopback(port);
  int fd = RPC_ANYSOCK;
  CLIENT* client = clnttcp_create(&address, kDeviceCore, kDeviceCoreVersion, &fd, 0, 0);
  if (client == nullptr) return false;
  timeval wait{1, 0};
  const bool ok =
      clnt_call(client, NULLPROC, no_data, nullptr, no_data, nullptr, wait) == RPC_SUCCESS;
  clnt_destroy(client);
  return ok;
}

}  // namespace

RpcbindEntry::Outcome RpcbindEntry::set(const std::string& host, std::uint16_t port,
                                        std::uint16_t& other_port) {
  if (!rpcbind_answers()) return Outcome::no_rpcbind;
  Outcome outcome = Outcome::registered;
  other_port = registered_port();
  if (other_port != 0) {
    // Our own port can only be in there if a killed server had it before us.
    if (other_port != port && answers(other_port)) return Outcome::taken;
    rpcb_unset(kDeviceCore, kDeviceCoreVersion, nullptr);
    outcome = Outcome::replaced;
  }
  ipv6_ = host.find(':') != std::string::npos;
  netconfig* config = getnetconfigent(ipv6_ ? "tcp6" : "tcp");
  if (config == nullptr) return Outcome::refused;
  const std::string universal =
      host + "." + std::to_string(port >> 8) + "." + std::to_string(port & 0xff);
  netbuf* address = uaddr2taddr(config, universal.c_str());
  if (address != nullptr) {
    set_ = rpcb_set(kDeviceCore, kDeviceCoreVersion, config, address) != 0;
    std::free(address->buf);
    std::free(address);
  }
  freenetconfigent(config);
  if (!set_) return Outcome::refused;
  port_ = port;
  return outcome;
}

void RpcbindEntry::unset() {
  if (!set_) return;
  set_ = false;
  // Another server may have taken the entry over since, if ours looked dead.
  if (!ipv6_ && registered_port() != port_) return;
  netconfig* config = getnetconfigent(ipv6_ ? "tcp6" : "tcp");
  if (config == nullptr) return;
  rpcb_unset(kDeviceCore, kDeviceCoreVersion, config);
  freenetconfigent(config);
}

}  // namespace talmir880::vxi11
