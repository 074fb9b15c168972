#pragma once

#include "device/deferred.hpp"

namespace talmir880::testing {

// What the rooms told each other, heard now, as the program's loop hears it
// once the call from outside has returned.
inline void deliver() { Deferred::here().deliver(); }

}  // namespace talmir880::testing
