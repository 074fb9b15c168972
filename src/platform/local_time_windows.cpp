#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/local_time.hpp"

namespace talmir880::platform {

// Windows' own strftime writes the zone's name for %z: the offset is
// worked out here, as the local time read as if it were UTC, less now.
std::string local_time_stamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_s(&local, &now);
  std::tm as_utc = local;
  const long offset_min = static_cast<long>(::_mkgmtime(&as_utc) - now) / 60;
  char stamp[40];
  const std::size_t length = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
  std::snprintf(stamp + length, sizeof stamp - length, "%c%02ld%02ld", offset_min < 0 ? '-' : '+',
                std::labs(offset_min) / 60, std::labs(offset_min) % 60);
  return stamp;
}

}  // namespace talmir880::platform
