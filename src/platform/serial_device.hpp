#pragma once

// What the serial port's own error does not say.

#include <cstdint>

namespace talmir880::platform {

// Whether the far end of an open serial device has gone: a pseudo-terminal
// whose other side closed reads as end of file, and Qt then reports whatever
// errno happened to hold. Windows reports a removed port itself: never.
bool hung_up(std::intptr_t handle);

}  // namespace talmir880::platform
