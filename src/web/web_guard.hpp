#pragma once

// Who the web face answers and who may change something through it.
//
// A page on another site may make the browser send to 127.0.0.1, and one
// whose name it rebinds to 127.0.0.1 sends its own name as Host: so every
// request must name this server in Host, and the WebSocket and every
// request that changes something must come from this server's own page
// (Origin). Beyond loopback, changing also needs the password's session.

#include <string>
#include <string_view>
#include <vector>

#include "web/http_request.hpp"

namespace talmir880::web {

// The names and addresses this server is reached by, and its port.
struct OwnNames {
  std::vector<std::string> hosts;  // lower case; IPv6 without brackets
  int port = 0;
  bool secure = false;  // reached over TLS
};

// Host: one of the own names, with the server's port (none meaning 80, or
// 443 over TLS).
bool host_allowed(std::string_view host, const OwnNames& own);
// Origin: exactly http:// (https:// over TLS) and the request's own Host,
// as a page this server served sends it.
bool same_origin(std::string_view origin, std::string_view host, bool secure = false);

// Where plain HTTP sends a visitor when the page is served over TLS: the
// same host by the name it used, the TLS port, the same target.
std::string secure_location(std::string_view host, int tls_port, std::string_view target);

enum class Verdict {
  ok,
  bad_host,    // no Host of ours: a rebound name, or a mistyped one
  bad_origin,  // a change or a WebSocket from another page, or without Origin
};

// `changes`: the request changes something or opens the WebSocket.
Verdict judge(const Request& request, const OwnNames& own, bool changes);

// Whether a visitor may change settings: this machine (from any address of
// its own, web/reach.hpp) always; others only with a password set and a
// session it gave.
bool may_control(bool peer_is_local, bool password_set, bool has_session);

}  // namespace talmir880::web
