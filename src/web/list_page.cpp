#include "web/list_page.hpp"

#include "web/page_messages.hpp"
#include "web/page_texts.hpp"

namespace talmir880::web {

ListText list_text(const std::string& key, const std::string& arg) {
  ListText out{key, std::nullopt, std::string(page_text(key)->text[2])};
  if (const std::size_t at = out.english.find("{}"); at != std::string::npos) {
    out.english.replace(at, 2, arg);
    out.arg = arg;
  }
  return out;
}

const char* port_class(PortState port) {
  if (port == PortState::open) return "on";
  return port == PortState::closed ? "off" : "bad";
}

std::string port_key(PortState port) { return std::string("port_") + port_text(port); }

const char* switched_class(Switched output) {
  return output == Switched::unsure ? "bad" : switched_text(output);
}

const char* switched_key(Switched output) {
  return output == Switched::unsure ? "not_confirmed" : switched_text(output);
}

std::vector<std::string> visa_pieces(const std::string& resource) {
  // Each field with its "::"; an IPv6 host's own "::" stays inside.
  std::vector<std::string> out;
  std::size_t from = 0;
  std::size_t at = 0;
  while ((at = resource.find("::", at)) != std::string::npos) {
    const std::size_t open = resource.rfind('[', at);
    const std::size_t close = resource.rfind(']', at);
    const bool inside = open != std::string::npos && (close == std::string::npos || close < open);
    at += 2;
    if (inside) continue;
    out.push_back(resource.substr(from, at - from));
    from = at;
  }
  out.push_back(resource.substr(from));
  return out;
}

}  // namespace talmir880::web
