#include "platform/serial_device.hpp"

namespace talmir880::platform {

bool hung_up(std::intptr_t) { return false; }

}  // namespace talmir880::platform
