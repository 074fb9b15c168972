#include "web/qt/host_network.hpp"

#include <QFile>
#include <QNetworkInterface>

namespace talmir880::web {
namespace {

std::string text_of(const char* path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll().toStdString();
}

}  // namespace

HostNetwork host_network() {
  HostNetwork out;
  for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) {
    InterfaceFacts facts{i.name().toStdString(), i.hardwareAddress().toLower().toStdString(), {}};
    for (const QNetworkAddressEntry& e : i.addressEntries()) {
      QHostAddress ip = e.ip();
      ip.setScopeId({});
      facts.addresses.push_back(
          {ip.toString().toLower().toStdString(), e.prefixLength(), e.isPermanent()});
      if (const auto address = net::parse_address(facts.addresses.back().address)) {
        out.addresses.push_back(*address);
      }
    }
    out.interfaces.push_back(std::move(facts));
  }
  out.gateways = default_gateways(text_of("/proc/net/route"), text_of("/proc/net/ipv6_route"));
  return out;
}

net::Address address_of(const QHostAddress& host) {
  net::Address out;
  const Q_IPV6ADDR v6 = host.toIPv6Address();
  for (int i = 0; i < 16; ++i) out.bytes[static_cast<std::size_t>(i)] = v6[i];
  return out;
}

std::string host_text(const QHostAddress& host) {
  bool v4 = false;
  const quint32 mapped = host.toIPv4Address(&v4);
  QHostAddress plain = v4 ? QHostAddress(mapped) : host;
  plain.setScopeId({});
  return plain.toString().toLower().toStdString();
}

}  // namespace talmir880::web
