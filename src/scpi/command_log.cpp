#include "scpi/command_log.hpp"

namespace talmir880::scpi {

std::string cited_line(std::string_view line) {
  constexpr char kHex[] = "0123456789abcdef";
  const std::string_view cited = line.substr(0, kCitedBytes);
  std::string out;
  out.reserve(cited.size() + 24);
  for (const char ch : cited) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte < 0x20 || byte >= 0x7f || byte == '\\') {
      out.append("\\x").push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0xf]);
    } else {
      out.push_back(ch);
    }
  }
  if (cited.size() < line.size()) out += " ... (" + std::to_string(line.size()) + " bytes)";
  return out;
}

}  // namespace talmir880::scpi
