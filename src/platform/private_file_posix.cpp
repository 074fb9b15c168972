#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

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

bool write_private(const std::string& path, const std::string& text, std::string& why) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  // One that was there keeps its mode: closed now, before the secret is in it.
  if (fd < 0 || ::fchmod(fd, 0600) != 0) {
    why = path + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      why = path + ": " + std::strerror(errno);
      ::close(fd);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) {
    why = path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace talmir880::platform
