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
  const bool v6 = id.address.find(':') != std::string::npos;
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += std::string("<LXIDevice xmlns=\"") + kLxiNamespace +
         "\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n";
  out += element("  ", "Manufacturer", id.identity.manufacturer);
  out += element("  ", "Model", id.identity.model);
  out += element("  ", "SerialNumber", id.identity.serial);
  out += element("  ", "FirmwareRevision", id.identity.firmware);
  out += element("  ", "ManufacturerDescription", id.description);
  out += element("  ", "IdentificationURL", id.url);
  out +=
      std::string("  <Interface xsi:type=\"NetworkInformation\" InterfaceType=\"LXI\" IPType=\"") +
      (v6 ? "IPv6" : "IPv4") + "\" InterfaceName=\"LAN\">\n";
  for (const std::string& resource : id.resources) {
    out += element("    ", "InstrumentAddressString", resource);
  }
  out += element("    ", "Hostname", id.host_name);
  out += element("    ", "IPAddress", id.address);
  out += "  </Interface>\n";
  out += "</LXIDevice>\n";
  return out;
}

}  // namespace talmir880::web
