#include "control/orb_endpoint.hpp"

#include <string_view>

namespace talmir880::control {
namespace {

constexpr std::string_view kOption = "-ORBendPoint";
constexpr const char* kLoopback = "giop:tcp:127.0.0.1:";

// The host of giop:tcp:HOST:PORT; "" for every address. Other transports
// (unix sockets) reach no other machine.
bool reaches_beyond(const std::string& endpoint, std::string& host) {
  constexpr std::string_view tcp = "giop:tcp:";
  if (endpoint.rfind(tcp, 0) != 0) return false;
  const std::string rest = endpoint.substr(tcp.size());
  const std::size_t colon = rest.rfind(':');
  host = colon == std::string::npos ? rest : rest.substr(0, colon);
  if (host.size() > 1 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  return !(host.rfind("127.", 0) == 0 || host == "::1");
}

std::string warning(const std::string& endpoint, const std::string& host) {
  std::string where = host.empty() ? "every address of this machine" : host;
  // Tango binds its event sockets to every address for a name.
  if (host == "localhost") where = "every address of this machine (events bind beyond localhost)";
  return "the Tango device is served on " + endpoint + ", " + where +
         ": Tango asks no password, anyone who reaches it can switch the RF on";
}

}  // namespace

OrbArguments bound_orb(std::vector<std::string> arguments, const std::string& from_environment) {
  OrbArguments bound;
  std::string endpoint = from_environment;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& a = arguments[i];
    if (a == kOption && i + 1 < arguments.size()) endpoint = arguments[i + 1];
  }
  if (endpoint.empty()) {
    arguments.emplace_back(kOption);
    arguments.emplace_back(kLoopback);
  } else if (std::string host; reaches_beyond(endpoint, host)) {
    bound.beyond_loopback = warning(endpoint, host);
  }
  bound.arguments = std::move(arguments);
  return bound;
}

}  // namespace talmir880::control
