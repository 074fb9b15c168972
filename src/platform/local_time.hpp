#pragma once

// The journal's time stamps.

#include <string>

namespace talmir880::platform {

// Now, in local time with its offset from UTC: 2026-12-09T14:03:07+0100.
std::string local_time_stamp();

}  // namespace talmir880::platform
