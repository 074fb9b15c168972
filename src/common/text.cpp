#include "common/text.hpp"

namespace talmir880 {

std::string remove_all(std::string_view text, std::string_view part) {
  if (part.empty()) return std::string(text);
  std::string out;
  out.reserve(text.size());
  std::size_t from = 0;
  for (std::size_t at = text.find(part); at != std::string_view::npos; at = text.find(part, from)) {
    out.append(text.substr(from, at - from));
    from = at + part.size();
  }
  out.append(text.substr(from));
  return out;
}

}  // namespace talmir880
