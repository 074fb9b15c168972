#pragma once

#include <string>
#include <string_view>

namespace talmir880 {

// Case-sensitive containment: the panel's "*XY*" patterns.
inline bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// Every occurrence of part replaced by nothing, left to right in one pass.
std::string remove_all(std::string_view text, std::string_view part);

}  // namespace talmir880
