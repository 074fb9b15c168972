#pragma once

// A secret kept in a file (the page's password, a TLS key) is used only when
// the file is its owner's alone, as ssh takes a private key. On POSIX that
// is its mode; on Windows its access list, where the system account and the
// administrators may be named besides the owner.

#include <optional>
#include <string>

namespace talmir880::platform {

// Nothing when only the owner may read or write PATH (or PATH cannot be
// looked at: reading it then tells why); otherwise one sentence naming the
// file, who else may use it and the command that closes it.
std::optional<std::string> open_to_others(const std::string& path);

// Writes TEXT to PATH, replacing it, readable and writable by its owner
// alone from the start; false with why when it cannot.
bool write_private(const std::string& path, const std::string& text, std::string& why);

}  // namespace talmir880::platform
