#include "platform/port_location.hpp"

#include <charconv>

namespace talmir880::platform {
namespace {

// Windows numbers its COM ports from 1 to 256.
constexpr int kLastWindowsPort = 256;

std::optional<int> port_number(std::string_view digits) {
  int n = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
    return std::nullopt;
  }
  if (n < 1 || n > kLastWindowsPort) return std::nullopt;
  return n;
}

bool starts_with_com(std::string_view text) {
  return text.size() >= 3 && (text[0] == 'C' || text[0] == 'c') &&
         (text[1] == 'O' || text[1] == 'o') && (text[2] == 'M' || text[2] == 'm');
}

}  // namespace

std::optional<std::string> named_port(int n) {
  if (n < 1 || n > kLastWindowsPort) return std::nullopt;
  return "COM" + std::to_string(n);
}

// Only COM<n> itself: CON, NUL and the rest are devices too, and "COM1:"
// opens COM1 with the colon taken as a device suffix.
std::optional<SerialChoice> serial_port_named(std::string_view text, int) {
  if (text.starts_with("\\\\.\\")) text.remove_prefix(4);
  if (starts_with_com(text)) text.remove_prefix(3);
  const std::optional<int> n = port_number(text);
  if (!n) return std::nullopt;
  return SerialChoice{*n, {}};
}

std::string serial_port_forms(int) {
  const std::string last = std::to_string(kLastWindowsPort);
  return "COM1 to COM" + last + ", \\\\.\\COMn, 1 to " + last;
}

std::string serial_port_help(int) {
  return "the generator's port: COM1 to COM" + std::to_string(kLastWindowsPort) +
         " (or just the number), as\n"
         "Windows names them in the Device Manager's \"Ports (COM &\n"
         "LPT)\", also written \\\\.\\COMn";
}

}  // namespace talmir880::platform
