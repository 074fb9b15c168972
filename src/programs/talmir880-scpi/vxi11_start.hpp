#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/peer_guard.hpp"
#include "scpi/instrument.hpp"
#include "vxi11/qt/rpcbind_entry.hpp"
#include "vxi11/qt/vxi11_transport.hpp"

namespace talmir880::programs {

// VXI-11 beside the raw socket, listening on host:port, not yet registered;
// when it cannot listen, nothing and the reason in `why`. `guard` admits
// its peers, as the raw socket's.
std::unique_ptr<vxi11::Vxi11Transport> bind_vxi11(const std::vector<scpi::Instrument*>& instruments,
                                                  net::PeerGuard& guard, const std::string& host,
                                                  int port, std::string& why);

// Registers the bound `server` with rpcbind in `entry` and says where it
// listens; when it is off (`why` from bind_vxi11, or rpcbind's refusal),
// nothing, and one line through `say` tells why and how to mend it
// (`program` is what to restart).
std::unique_ptr<vxi11::Vxi11Transport> register_vxi11(
    std::unique_ptr<vxi11::Vxi11Transport> server, const std::string& why, std::size_t generators,
    const net::PeerGuard& guard, const std::string& host, vxi11::RpcbindEntry& entry,
    const std::function<void(const std::string&)>& say, const std::string& program);

}  // namespace talmir880::programs
