#pragma once

// The ports folder holds COM<n> links to serial devices, most often the
// pseudo-terminals of talmir880-sim. Anyone who can write to the folder can
// point the panel at any device, so a folder is only used when it belongs to
// the user and nobody else may write to it.

#include <optional>
#include <string>

namespace talmir880 {

// $XDG_RUNTIME_DIR/talmir880, or /tmp/talmir880-<uid> when XDG_RUNTIME_DIR is
// unset or empty. No trailing slash.
std::string ports_folder_path();

// True only for a real directory (not a symlink) owned by the current user and
// not writable by group or others.
bool ports_folder_trusted(const std::string& folder);

// Creates the folder (mode 0700) when it is missing and returns its path. The
// parent must exist. Throws std::runtime_error when the folder cannot be made
// or exists but is not trusted.
std::string ensure_ports_folder();

// <folder>/COM<n>
std::string port_link_path(int n);

// The device COM<n> leads to (absolute, links resolved) when the folder is
// trusted and the link resolves to an existing file; otherwise nullopt.
std::optional<std::string> resolve_port_link(int n);

}  // namespace talmir880
