#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/peer_guard.hpp"
#include "programs/talmir880-scpi/options.hpp"
#include "scpi/instrument.hpp"
#include "tls/credentials.hpp"
#include "web/qt/web_server.hpp"

namespace talmir880::programs {

// The password of --http-password-file ("" without one), or nothing when
// the file cannot be read, holds none, or may be read by others; then the
// reason is in `error`.
std::optional<std::string> web_password(const ServerOptions& options, std::string& error);

// The certificate and key of --https: the owner's (--tls-certificate,
// --tls-key), or the one kept in the state folder, made now at first start
// (said through `say`). Nothing, with the reason in `error`, when they
// cannot be had or are not good; an empty one without --https.
std::optional<tls::Credentials> web_credentials(const ServerOptions& options, std::string& error,
                                                const std::function<void(const std::string&)>& say);

// The web page as the options ask, for the generators in the server's
// order, each with its raw socket's port (0: none) for the identification,
// listening but not yet said; nothing, with the reason through `say`, when
// the address cannot be had.
std::unique_ptr<web::WebServer> bind_web(std::vector<web::WebGenerator> generators,
                                         net::PeerGuard& guard, const ServerOptions& options,
                                         std::string password, tls::Credentials credentials,
                                         const std::function<void(const std::string&)>& say,
                                         const std::function<void(const std::string&)>& log);

// Its start-up lines, once everything listens.
void say_web(const web::WebServer& server, const ServerOptions& options, bool password,
             const std::string& fingerprint, const std::function<void(const std::string&)>& say);

}  // namespace talmir880::programs
