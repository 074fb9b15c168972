#pragma once

// Test files made the owner's alone, or opened to everyone, as each system
// does it: a file's mode on POSIX, its access list on Windows (where Wine
// keeps it as the mode too). Windows' headers stay in owner_only.cpp: their
// macros would rename the project's own words.

#include <string>

namespace talmir880::testing {

bool make_owner_only(const std::string& path);
bool let_everyone_read(const std::string& path);

}  // namespace talmir880::testing
