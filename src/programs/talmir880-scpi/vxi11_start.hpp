#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "scpi/instrument.hpp"
#include "scpi/peer_guard.hpp"
#include "vxi11/qt/rpcbind_entry.hpp"
#include "vxi11/qt/vxi11_transport.hpp"

namespace talmir880::programs {

// VXI-11 beside the raw socket, listening on host:port and registered with
// rpcbind in `entry`; when it cannot be, nothing, and one line through `say`
// tells why and how to mend it (`program` is what to restart). `guard`
// admits its peers, as the raw socket's.
std::unique_ptr<vxi11::Vxi11Transport> serve_vxi11(
    const std::vector<scpi::Instrument*>& instruments, scpi::PeerGuard& guard,
    const std::string& host, int port, vxi11::RpcbindEntry& entry,
    const std::function<void(const std::string&)>& say, const std::string& program);

}  // namespace talmir880::programs
