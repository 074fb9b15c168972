#pragma once

// A request from outside to stop (SIGINT or SIGTERM; on Windows Ctrl+C,
// Ctrl+Break, or the console closing) turned into something the event loop
// waits on, so that a program ends as it does on its own (sockets shut, the
// port closed, the switch-offs written) instead of between two events.

#include <cstdint>
#include <optional>
#include <string>

namespace talmir880::platform {

struct StopWatch {
  // What the event loop watches: a descriptor that turns readable (POSIX),
  // an event handle that is signalled (Windows).
  std::intptr_t handle = -1;
  std::string error;  // why the requests cannot be caught
};

// Catches the requests, once per process. On POSIX SIGPIPE is ignored too:
// a client or a reader of our output that goes away must not end us.
StopWatch catch_stop_requests();

// True when a request came since the last call; the watch is quiet again.
bool take_stop_request();

}  // namespace talmir880::platform
