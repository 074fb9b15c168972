#pragma once

// Where a program keeps what it makes for itself and finds again at its next
// start (the web page's TLS certificate): the service manager's state
// folder when it gave one, else the user's.

#include <filesystem>

namespace talmir880::platform {

// POSIX: $STATE_DIRECTORY (systemd's StateDirectory=), else
// $XDG_STATE_HOME/talmir880, else ~/.local/state/talmir880. Windows:
// %LOCALAPPDATA%\talmir880. Not made here.
std::filesystem::path state_folder();

}  // namespace talmir880::platform
