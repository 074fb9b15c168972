#include "link/serial_port.hpp"

#include <charconv>
#include <vector>

namespace talmir880 {
namespace {

int parse_int(std::string_view field, std::string_view settings) {
  int value = 0;
  auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
  if (ec != std::errc() || end != field.data() + field.size() || value <= 0) {
    throw PortError("invalid port settings \"" + std::string(settings) + "\"");
  }
  return value;
}

}  // namespace

LineSettings parse_settings(std::string_view settings) {
  std::vector<std::string_view> fields;
  std::size_t from = 0;
  for (;;) {
    std::size_t comma = settings.find(',', from);
    fields.push_back(settings.substr(from, comma - from));
    if (comma == std::string_view::npos) break;
    from = comma + 1;
  }
  auto bad = [&] { return PortError("invalid port settings \"" + std::string(settings) + "\""); };
  if (fields.size() != 4 || fields[1].size() != 1) throw bad();
  LineSettings s;
  s.baud = parse_int(fields[0], settings);
  s.parity = fields[1][0];
  s.data_bits = parse_int(fields[2], settings);
  s.stop_bits = parse_int(fields[3], settings);
  if (std::string_view("noems").find(s.parity) == std::string_view::npos) throw bad();
  if (s.data_bits < 5 || s.data_bits > 8 || s.stop_bits > 2) throw bad();
  return s;
}

}  // namespace talmir880
