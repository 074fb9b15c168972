#include "platform/ports_folder.hpp"

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace talmir880 {
namespace {

// lstat on "dir/" follows a final symlink, which would defeat the check.
std::string without_trailing_slashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::string ports_folder_path() {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg != nullptr && *xdg != '\0') {
    return without_trailing_slashes(xdg) + "/talmir880";
  }
  return "/tmp/talmir880-" + std::to_string(geteuid());
}

bool ports_folder_trusted(const std::string& folder) {
  struct stat st {};
  if (lstat(without_trailing_slashes(folder).c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string ensure_ports_folder() {
  const std::string folder = ports_folder_path();
  if (mkdir(folder.c_str(), 0700) == 0) {
    // A restrictive umask could leave us without access to our own folder.
    chmod(folder.c_str(), 0700);
  } else if (errno != EEXIST) {
    throw std::runtime_error("cannot create the ports folder " + folder + ": " +
                             std::strerror(errno));
  }
  if (!ports_folder_trusted(folder)) {
    throw std::runtime_error("the ports folder " + folder +
                             " is not a directory owned by this user and closed to others"
                             " (expected mode 0700, no symlink)");
  }
  return folder;
}

std::string port_link_path(int n) { return ports_folder_path() + "/COM" + std::to_string(n); }

std::optional<std::string> resolve_port_link(int n) {
  if (!ports_folder_trusted(ports_folder_path())) return std::nullopt;
  char resolved[PATH_MAX];
  if (realpath(port_link_path(n).c_str(), resolved) == nullptr) return std::nullopt;
  struct stat st {};
  if (stat(resolved, &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;
  return std::string(resolved);
}

}  // namespace talmir880
