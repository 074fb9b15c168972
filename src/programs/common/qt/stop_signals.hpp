#pragma once

#include <functional>

namespace talmir880::programs {

// SIGINT and SIGTERM call `stop` from the event loop, where the program can
// end as it does on its own (sockets shut, the port closed, status 0),
// instead of being killed between two events. SIGPIPE is ignored: a client
// or a reader of our output that goes away must not end us. Call it once,
// after the application object exists; false, with errno set, when the
// signals cannot be caught.
bool on_stop_signals(std::function<void()> stop);

}  // namespace talmir880::programs
