#include <cstdlib>
#include <string>

#include "platform/state_folder.hpp"

namespace talmir880::platform {

std::filesystem::path state_folder() {
  const auto set = [](const char* name) -> std::string {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
  };
  // systemd may list several, ':' between: the first is ours.
  if (const std::string given = set("STATE_DIRECTORY"); !given.empty()) {
    return given.substr(0, given.find(':'));
  }
  if (const std::string xdg = set("XDG_STATE_HOME"); !xdg.empty() && xdg.front() == '/') {
    return std::filesystem::path(xdg) / "talmir880";
  }
  return std::filesystem::path(set("HOME")) / ".local" / "state" / "talmir880";
}

}  // namespace talmir880::platform
