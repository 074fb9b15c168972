#include <time.h>

#include <ctime>

#include "platform/local_time.hpp"

namespace talmir880::platform {

std::string local_time_stamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S%z", &local);
  return stamp;
}

}  // namespace talmir880::platform
