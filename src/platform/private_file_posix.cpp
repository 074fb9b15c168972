#include <sys/stat.h>

#include <cstdio>

#include "platform/private_file.hpp"

namespace talmir880::platform {

std::optional<std::string> open_to_others(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  if ((st.st_mode & (S_IRWXG | S_IRWXO)) == 0) return std::nullopt;
  char octal[8];
  std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  return path + " is open to group or others (mode " + octal + "); run chmod 600 " + path;
}

}  // namespace talmir880::platform
