#include "programs/talmir880-scpi/mdns_start.hpp"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <array>

#include "scpi/identity.hpp"

namespace talmir880::programs {
namespace {

// An address as inet_ntop() writes it, so "::0001" and "::1" compare equal;
// a name (localhost) as it is.
std::string canonical(const std::string& host) {
  std::array<unsigned char, sizeof(in6_addr)> bytes{};
  std::array<char, INET6_ADDRSTRLEN> text{};
  for (const int family : {AF_INET, AF_INET6}) {
    if (::inet_pton(family, host.c_str(), bytes.data()) == 1 &&
        ::inet_ntop(family, bytes.data(), text.data(), text.size()) != nullptr) {
      return text.data();
    }
  }
  return host;
}

// This machine's interfaces with their addresses, as they are now.
std::vector<mdns::Interface> interfaces() {
  std::vector<mdns::Interface> out;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return out;
  for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr) continue;
    const int family = a->ifa_addr->sa_family;
    if (family != AF_INET && family != AF_INET6) continue;
    const void* address =
        family == AF_INET
            ? static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr)
            : &reinterpret_cast<sockaddr_in6*>(a->ifa_addr)->sin6_addr;
    std::array<char, INET6_ADDRSTRLEN> text{};
    if (::inet_ntop(family, address, text.data(), text.size()) == nullptr) continue;
    const int index = static_cast<int>(::if_nametoindex(a->ifa_name));
    if (index == 0) continue;
    auto i = std::find_if(out.begin(), out.end(),
                          [index](const mdns::Interface& known) { return known.index == index; });
    if (i == out.end()) {
      out.push_back({index, (a->ifa_flags & IFF_LOOPBACK) != 0, {}});
      i = out.end() - 1;
    }
    i->addresses.push_back(text.data());
  }
  ::freeifaddrs(list);
  return out;
}

std::string host_name() {
  std::array<char, 256> name{};
  if (::gethostname(name.data(), name.size() - 1) != 0) return "localhost";
  return std::string(mdns::host_label(name.data()));
}

}  // namespace

ServerAnnouncement::ServerAnnouncement(mdns::Faces faces,
                                       const std::function<void(const std::string&)>& say)
    : faces_(std::move(faces)), host_(host_name()), announcer_(say) {
  faces_.raw_host = canonical(faces_.raw_host);
  faces_.vxi11_host = canonical(faces_.vxi11_host);
  faces_.web_host = canonical(faces_.web_host);
}

void ServerAnnouncement::update(const std::vector<mdns::Generator>& generators) {
  const scpi::Identity id = scpi::identity();
  announcer_.set(mdns::announced({id.manufacturer, id.model, id.firmware}, generators, faces_,
                                 host_, interfaces()));
}

std::unique_ptr<ServerAnnouncement> announce_server(
    const std::vector<mdns::Generator>& generators, const mdns::Faces& faces,
    const std::function<void(const std::string&)>& say) {
  auto announcement = std::make_unique<ServerAnnouncement>(faces, say);
  announcement->update(generators);
  return announcement;
}

}  // namespace talmir880::programs
