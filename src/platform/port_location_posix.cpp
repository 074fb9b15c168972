#include "platform/port_location.hpp"

#include <charconv>

#include "platform/ports_folder.hpp"

namespace talmir880::platform {
namespace {

std::optional<int> listed_number(std::string_view digits, int listed) {
  int n = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
    return std::nullopt;
  }
  if (n < 1 || n > listed) return std::nullopt;
  return n;
}

}  // namespace

std::optional<std::string> named_port(int n) { return resolve_port_link(n); }

std::optional<SerialChoice> serial_port_named(std::string_view text, int listed) {
  if (text.starts_with('/')) return SerialChoice{0, std::string(text)};
  if (text.starts_with("COM") || text.starts_with("com")) text.remove_prefix(3);
  const std::optional<int> n = listed_number(text, listed);
  if (!n) return std::nullopt;
  return SerialChoice{*n, {}};
}

std::string serial_port_forms(int listed) {
  const std::string last = std::to_string(listed);
  return "COM1 to COM" + last + ", 1 to " + last + ", a device path";
}

std::string serial_port_help(int listed) {
  const std::string last = std::to_string(listed);
  return "the generator's port: COM1 to COM" + last + " (or just 1 to " + last +
         ") as\n"
         "the panel finds them (the ports folder, then the system's\n"
         "serial devices, USB adapters first), or a device path\n"
         "such as /dev/ttyUSB0";
}

}  // namespace talmir880::platform
