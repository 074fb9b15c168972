#include "mdns/services.hpp"

#include <algorithm>

namespace talmir880::mdns {
namespace {

constexpr std::string_view kEllipsis = "\u2026";  // three bytes in UTF-8
constexpr std::string_view kOn = " on ";
// rpcbind's port: a VXI-11 client asks there for the core channel's own.
constexpr int kRpcbindPort = 111;

bool continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The longest start of s within max bytes that ends between characters.
std::string_view utf8_prefix(std::string_view s, std::size_t max) {
  if (s.size() <= max) return s;
  std::size_t n = max;
  while (n > 0 && continuation(s[n])) --n;
  return s.substr(0, n);
}

// The longest end of s within max bytes that starts at a character.
std::string_view utf8_suffix(std::string_view s, std::size_t max) {
  if (s.size() <= max) return s;
  std::size_t from = s.size() - max;
  while (from < s.size() && continuation(s[from])) ++from;
  return s.substr(from);
}

// s in max bytes: its start and its end around an ellipsis.
std::string middle_cut(std::string_view s, std::size_t max) {
  if (s.size() <= max) return std::string(s);
  if (max <= kEllipsis.size()) return std::string(utf8_prefix(s, max));
  const std::size_t room = max - kEllipsis.size();
  return std::string(utf8_prefix(s, room - room / 2)) + std::string(kEllipsis) +
         std::string(utf8_suffix(s, room / 2));
}

// s in max bytes: its start and an ellipsis.
std::string end_cut(std::string_view s, std::size_t max) {
  if (s.size() <= max) return std::string(s);
  if (max <= kEllipsis.size()) return std::string(utf8_prefix(s, max));
  return std::string(utf8_prefix(s, max - kEllipsis.size())) + std::string(kEllipsis);
}

bool is_loopback(std::string_view host) {
  return host == "localhost" || host == "::1" || host.starts_with("127.");
}

// *IDN?'s serial field says "0" for a generator nobody named: the model
// alone names it then.
std::string_view shown_name(std::string_view serial) { return serial == "0" ? "" : serial; }

}  // namespace

std::string service_name(std::string_view model, std::string_view name, std::string_view host) {
  const std::string head = std::string(model) + (name.empty() ? "" : " ");
  const std::size_t fixed = head.size() + kOn.size();
  if (fixed + name.size() + host.size() <= kMaxNameBytes) {
    return head + std::string(name) + std::string(kOn) + std::string(host);
  }
  if (fixed >= kMaxNameBytes) {
    return std::string(utf8_prefix(head + std::string(kOn) + std::string(host), kMaxNameBytes));
  }
  // Half the room each, and what one leaves to the other.
  const std::size_t room = kMaxNameBytes - fixed;
  const std::size_t host_room = std::max(room / 2, room - std::min(room, name.size()));
  const std::string shown_host = end_cut(host, host_room);
  return head + middle_cut(name, room - shown_host.size()) + std::string(kOn) + shown_host;
}

std::string_view host_label(std::string_view host_name) {
  return host_name.substr(0, host_name.find('.'));
}

std::optional<Scope> scope_of(std::string_view host, const std::vector<Interface>& interfaces) {
  if (host == "0.0.0.0") return Scope{std::nullopt, Family::ipv4};
  if (host == "::") return Scope{std::nullopt, Family::any};  // dual stack, as Linux binds it
  const Family family = host.find(':') != std::string_view::npos ? Family::ipv6 : Family::ipv4;
  const bool loopback = is_loopback(host);
  for (const Interface& i : interfaces) {
    const bool has =
        loopback ? i.loopback
                 : std::find(i.addresses.begin(), i.addresses.end(), host) != i.addresses.end();
    if (has) return Scope{i.index, family};
  }
  return std::nullopt;
}

std::vector<std::string> txt_records(const Product& product, std::string_view serial,
                                     bool web_page) {
  const auto record = [](std::string_view key, std::string_view value) {
    return std::string(utf8_prefix(std::string(key) + "=" + std::string(value), kMaxTxtBytes));
  };
  std::vector<std::string> out{"txtvers=1", record("Manufacturer", product.manufacturer),
                               record("Model", product.model)};
  if (!serial.empty()) out.push_back(record("SerialNumber", serial));
  out.push_back(record("FirmwareVersion", product.firmware));
  if (web_page) out.push_back("path=/");
  return out;
}

std::vector<Group> announced(const Product& product, const std::vector<Generator>& generators,
                             const Faces& faces, std::string_view host,
                             const std::vector<Interface>& interfaces) {
  std::vector<Group> out;
  const std::optional<Scope> raw = scope_of(faces.raw_host, interfaces);
  for (const Generator& g : generators) {
    if (!g.present || !raw) continue;
    out.push_back({service_name(product.model, shown_name(g.serial), host),
                   {{"_scpi-raw._tcp", g.raw_port, txt_records(product, g.serial, false), *raw}}});
  }

  const bool one = generators.size() == 1;
  const std::string serial = one ? generators.front().serial : "";
  Group server{service_name(product.model, shown_name(serial), host), {}};
  if (const std::optional<Scope> vxi11 = scope_of(faces.vxi11_host, interfaces);
      faces.vxi11 && vxi11) {
    server.services.push_back(
        {"_vxi-11._tcp", kRpcbindPort, txt_records(product, serial, false), *vxi11});
  }
  if (const std::optional<Scope> web = scope_of(faces.web_host, interfaces);
      faces.web_port > 0 && web) {
    for (const char* type : {"_http._tcp", "_lxi._tcp"}) {
      server.services.push_back({type, faces.web_port, txt_records(product, serial, true), *web});
    }
  }
  if (const std::optional<Scope> tls = scope_of(faces.https_host, interfaces);
      faces.https_port > 0 && tls) {
    server.services.push_back(
        {"_https._tcp", faces.https_port, txt_records(product, serial, true), *tls});
    if (faces.web_port == 0) {
      server.services.push_back(
          {"_lxi._tcp", faces.https_port, txt_records(product, serial, true), *tls});
    }
  }
  if (!server.services.empty()) out.push_back(std::move(server));
  return out;
}

}  // namespace talmir880::mdns
