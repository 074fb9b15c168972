#include "web/lxi.hpp"

namespace talmir880::web {
namespace {

// VISA writes an IPv6 host in brackets.
std::string visa_host(const std::string& address) {
  return address.find(':') != std::string::npos ? "[" + address + "]" : address;
}

}  // namespace

std::string xml_text(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string socket_resource(const std::string& address, int port) {
  return "TCPIP::" + visa_host(address) + "::" + std::to_string(port) + "::SOCKET";
}

std::string instr_resource(const std::string& address, const std::string& device) {
  return "TCPIP::" + visa_host(address) + "::" + (device.empty() ? "" : device + "::") + "INSTR";
}

std::string identification_xml(const Identification& id) {
  const auto element = [](const std::string& indent, const char* name, const std::string& value) {
    return indent + "<" + name + ">" + xml_text(value) + "</" + name + ">\n";
  };
  const auto interface = [&element](const std::vector<std::string>& resources,
                                    const NetworkInfo& n) {
    std::string out =
        std::string(
            "  <Interface xsi:type=\"NetworkInformation\" InterfaceType=\"LXI\" IPType=\"") +
        (n.ipv6 ? "IPv6" : "IPv4") + "\" InterfaceName=\"" + xml_text(n.interface) + "\">\n";
    for (const std::string& resource : resources) {
      out += element("    ", "InstrumentAddressString", resource);
    }
    return out;
  };
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += std::string("<LXIDevice xmlns=\"") + kLxiNamespace +
         "\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:schemaLocation=\"" +
         kLxiNamespace + " " + kLxiNamespace + "/LXIIdentification.xsd\">\n";
  out += element("  ", "Manufacturer", id.identity.manufacturer);
  out += element("  ", "Model", id.identity.model);
  out += element("  ", "SerialNumber", id.identity.serial);
  out += element("  ", "FirmwareRevision", id.identity.firmware);
  out += element("  ", "ManufacturerDescription", id.description);
  out += element("  ", "IdentificationURL", id.url);
  std::vector<WayIn> ways = id.ways;
  if (ways.empty()) ways.push_back({{}, id.reached});
  for (const WayIn& way : ways) {
    out += interface(way.resources, way.network);
    const NetworkInfo& n = way.network;
    out += element("    ", "Hostname", id.host_name);
    out += element("    ", "IPAddress", n.address);
    out += element("    ", "SubnetMask", n.mask);
    out += element("    ", "MACAddress", n.mac);
    out += element("    ", "Gateway", n.gateway);
    out += element("    ", "DHCPEnabled", n.dhcp ? "true" : "false");
    out += element("    ", "AutoIPEnabled", n.auto_ip ? "true" : "false");
    out += "  </Interface>\n";
  }
  if (!id.this_machine_only.empty()) {
    out += "  <Extension>\n";
    for (const std::string& way : id.this_machine_only) {
      out += std::string("    <ThisMachineOnly xmlns=\"") + kOwnNamespace + "\">" + xml_text(way) +
             "</ThisMachineOnly>\n";
    }
    out += "  </Extension>\n";
  }
  out += element("  ", "LXIVersion", kLxiVersion);
  out += "</LXIDevice>\n";
  return out;
}

}  // namespace talmir880::web
