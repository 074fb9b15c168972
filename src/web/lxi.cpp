#include "web/lxi.hpp"

namespace talmir880::web {
namespace {

// VISA writes an IPv6 host in brackets.
std::string visa_host(const std::string& address) {
  return address.find(':') != std::string::npos ? "[" + address + "]" : address;
}

}  // namespace

std::string socket_resource(const std::string& address, int port) {
  return "TCPIP::" + visa_host(address) + "::" + std::to_string(port) + "::SOCKET";
}

std::string instr_resource(const std::string& address, const std::string& device) {
  return "TCPIP::" + visa_host(address) + "::" + (device.empty() ? "" : device + "::") + "INSTR";
}

}  // namespace talmir880::web
