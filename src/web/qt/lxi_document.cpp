#include "web/qt/lxi_document.hpp"

#include <QXmlStreamWriter>

namespace talmir880::web {
namespace {

constexpr const char* kSchemaInstance = "http://www.w3.org/2001/XMLSchema-instance";

QString text(const std::string& value) { return QString::fromStdString(value); }

}  // namespace

QByteArray identification_xml(const Identification& id) {
  QByteArray out;
  QXmlStreamWriter xml(&out);
  xml.setAutoFormatting(true);
  xml.setAutoFormattingIndent(2);
  xml.writeStartDocument();
  xml.writeStartElement("LXIDevice");
  xml.writeDefaultNamespace(kLxiNamespace);
  xml.writeNamespace(kSchemaInstance, "xsi");
  xml.writeAttribute(kSchemaInstance, "schemaLocation",
                     QString(kLxiNamespace) + " " + kLxiNamespace + "/LXIIdentification.xsd");
  const auto element = [&xml](const char* name, const std::string& value) {
    xml.writeTextElement(name, text(value));
  };
  element("Manufacturer", id.identity.manufacturer);
  element("Model", id.identity.model);
  element("SerialNumber", id.identity.serial);
  element("FirmwareRevision", id.identity.firmware);
  element("ManufacturerDescription", id.description);
  if (!id.homepage.empty()) element("HomepageURL", id.homepage);
  element("IdentificationURL", id.url);
  std::vector<WayIn> ways = id.ways;
  if (ways.empty()) ways.push_back({{}, id.reached});
  for (const WayIn& way : ways) {
    const NetworkInfo& n = way.network;
    xml.writeStartElement("Interface");
    xml.writeAttribute(kSchemaInstance, "type", "NetworkInformation");
    xml.writeAttribute("InterfaceType", "LXI");
    xml.writeAttribute("IPType", n.ipv6 ? "IPv6" : "IPv4");
    xml.writeAttribute("InterfaceName", text(n.interface));
    for (const std::string& resource : way.resources) element("InstrumentAddressString", resource);
    element("Hostname", id.host_name);
    element("IPAddress", n.address);
    element("SubnetMask", n.mask);
    element("MACAddress", n.mac);
    element("Gateway", n.gateway);
    element("DHCPEnabled", n.dhcp ? "true" : "false");
    element("AutoIPEnabled", n.auto_ip ? "true" : "false");
    xml.writeEndElement();
  }
  if (!id.this_machine_only.empty() || !id.fingerprint.empty()) {
    xml.writeStartElement("Extension");
    const auto own = [&xml](const char* name, const std::string& value) {
      xml.writeStartElement(name);
      xml.writeDefaultNamespace(kOwnNamespace);
      xml.writeCharacters(text(value));
      xml.writeEndElement();
    };
    for (const std::string& way : id.this_machine_only) own("ThisMachineOnly", way);
    if (!id.fingerprint.empty()) own("CertificateSha256", id.fingerprint);
    xml.writeEndElement();
  }
  element("LXIVersion", kLxiVersion);
  xml.writeEndDocument();
  return out;
}

}  // namespace talmir880::web
