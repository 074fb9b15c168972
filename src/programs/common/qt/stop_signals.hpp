#pragma once

#include <functional>
#include <string>

namespace talmir880::programs {

// SIGINT and SIGTERM (on Windows Ctrl+C, Ctrl+Break and the console
// closing) call `stop` from the event loop, where the program can end as it
// does on its own (sockets shut, the port closed, status 0), instead of
// being killed between two events. SIGPIPE is ignored: a client or a reader
// of our output that goes away must not end us. Call it once, after the
// application object exists; empty, or why they cannot be caught.
std::string on_stop_signals(std::function<void()> stop);

}  // namespace talmir880::programs
