#pragma once

// Windows' own calls take UTF-16; our texts are UTF-8.

#include <string>

namespace talmir880::platform {

std::wstring widen(const std::string& text);
std::string narrow(const std::wstring& text);

}  // namespace talmir880::platform
