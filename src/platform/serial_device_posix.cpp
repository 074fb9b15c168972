#include <poll.h>

#include "platform/serial_device.hpp"

namespace talmir880::platform {

bool hung_up(std::intptr_t handle) {
  pollfd watched{static_cast<int>(handle), POLLIN, 0};
  return ::poll(&watched, 1, 0) == 1 && (watched.revents & (POLLHUP | POLLERR)) != 0;
}

}  // namespace talmir880::platform
