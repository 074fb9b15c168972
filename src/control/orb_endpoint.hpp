#pragma once

// Where the Tango server listens. omniORB binds every address when nobody
// names one, and Tango has no password of its own: loopback unless the
// user's -ORBendPoint (argument or environment) names another address.

#include <string>
#include <vector>

namespace talmir880::control {

struct OrbArguments {
  std::vector<std::string> arguments;
  // Set when the server can be reached beyond this machine: the sentence
  // said at start.
  std::string beyond_loopback;
};

// `arguments` as Tango takes them (program name first); `from_environment`
// is the ORBendPoint variable omniORB reads, empty when unset.
OrbArguments bound_orb(std::vector<std::string> arguments, const std::string& from_environment);

}  // namespace talmir880::control
