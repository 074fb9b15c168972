#include "web/web_guard.hpp"

#include <algorithm>
#include <cctype>

namespace talmir880::web {
namespace {

// Splits HOST[:PORT] or [V6][:PORT]; false when it is neither.
bool split_host(std::string_view text, std::string_view& host, int& port, bool secure = false) {
  port = secure ? 443 : 80;
  std::string_view port_text;
  if (text.starts_with('[')) {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) return false;
    host = text.substr(1, close - 1);
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      port_text = rest.substr(1);
    }
  } else {
    const std::size_t colon = text.find(':');
    host = text.substr(0, colon);
    if (colon != std::string_view::npos) port_text = text.substr(colon + 1);
    if (colon != std::string_view::npos && port_text.empty()) return false;
  }
  if (host.empty()) return false;
  if (!port_text.empty()) {
    if (port_text.size() > 5 || !std::all_of(port_text.begin(), port_text.end(), [](char c) {
          return std::isdigit(static_cast<unsigned char>(c)) != 0;
        })) {
      return false;
    }
    port = std::stoi(std::string(port_text));
  }
  return true;
}

}  // namespace

bool host_allowed(std::string_view host, const OwnNames& own) {
  std::string_view name;
  int port = 0;
  if (!split_host(host, name, port, own.secure) || port != own.port) return false;
  std::string wanted = lower(name);
  if (wanted.ends_with('.')) wanted.pop_back();  // the absolute form of a name
  return std::find(own.hosts.begin(), own.hosts.end(), wanted) != own.hosts.end();
}

bool same_origin(std::string_view origin, std::string_view host, bool secure) {
  return lower(origin) == std::string(secure ? "https://" : "http://") + lower(host);
}

std::string secure_location(std::string_view host, int tls_port, std::string_view target) {
  std::string_view name;
  int port = 0;
  if (!split_host(host, name, port)) name = "localhost";
  const bool v6 = name.find(':') != std::string_view::npos;
  std::string out = "https://" + std::string(v6 ? "[" : "") + std::string(name) + (v6 ? "]" : "");
  if (tls_port != 443) out += ":" + std::to_string(tls_port);
  return out + std::string(target);
}

Verdict judge(const Request& request, const OwnNames& own, bool changes) {
  const std::optional<std::string_view> host = request.header("host");
  if (!host || !host_allowed(*host, own)) return Verdict::bad_host;
  if (!changes) return Verdict::ok;
  const std::optional<std::string_view> origin = request.header("origin");
  return origin && same_origin(*origin, *host, own.secure) ? Verdict::ok : Verdict::bad_origin;
}

bool may_control(bool peer_is_local, bool password_set, bool has_session) {
  return peer_is_local || (password_set && has_session);
}

}  // namespace talmir880::web
