#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "programs/talmir880-scpi/options.hpp"
#include "scpi/instrument.hpp"
#include "scpi/peer_guard.hpp"
#include "web/qt/web_server.hpp"

namespace talmir880::programs {

// The web page as the options ask, for the generators in the server's
// order, each with its raw socket's port (0: none) for the identification;
// its start-up lines go through `say`. Nothing, with the reason said, when
// the password file cannot be read or the address cannot be had.
std::unique_ptr<web::WebServer> serve_web(std::vector<web::WebGenerator> generators,
                                          scpi::PeerGuard& guard, const ServerOptions& options,
                                          const std::function<void(const std::string&)>& say);

}  // namespace talmir880::programs
