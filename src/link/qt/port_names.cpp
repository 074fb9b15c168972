#include "link/qt/port_names.hpp"

#include <QSerialPortInfo>
#include <algorithm>
#include <cstddef>
#include <utility>

#include "platform/port_location.hpp"

namespace talmir880 {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string_view digit_run(std::string_view s, std::size_t from) {
  std::size_t end = from;
  while (end < s.size() && is_digit(s[end])) ++end;
  return s.substr(from, end - from);
}

// -1, 0 or 1 by numeric value; leading zeros only break a tie.
int compare_numbers(std::string_view a, std::string_view b) {
  const std::size_t a_lead = std::min(a.find_first_not_of('0'), a.size());
  const std::size_t b_lead = std::min(b.find_first_not_of('0'), b.size());
  const std::string_view a_value = a.substr(a_lead);
  const std::string_view b_value = b.substr(b_lead);
  if (a_value.size() != b_value.size()) return a_value.size() < b_value.size() ? -1 : 1;
  if (int c = a_value.compare(b_value); c != 0) return c < 0 ? -1 : 1;
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return 0;
}

}  // namespace

bool natural_less(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (is_digit(a[i]) && is_digit(b[j])) {
      const std::string_view x = digit_run(a, i);
      const std::string_view y = digit_run(b, j);
      if (int c = compare_numbers(x, y); c != 0) return c < 0;
      i += x.size();
      j += y.size();
    } else {
      if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

bool is_usb_serial_name(std::string_view name) {
  return name.starts_with("ttyUSB") || name.starts_with("ttyACM");
}

std::vector<std::string> order_serial_ports(std::vector<std::string> names) {
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const bool a_usb = is_usb_serial_name(a);
    const bool b_usb = is_usb_serial_name(b);
    if (a_usb != b_usb) return a_usb;
    return natural_less(a, b);
  });
  return names;
}

std::optional<std::string> serial_port_location(int n) {
  if (n < 1) return std::nullopt;
  if (std::optional<std::string> named = platform::named_port(n)) return named;

  const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
  std::vector<std::string> names;
  for (const QSerialPortInfo& port : ports) names.push_back(port.portName().toStdString());
  names = order_serial_ports(std::move(names));
  if (static_cast<std::size_t>(n) > names.size()) return std::nullopt;
  const std::string& wanted = names[static_cast<std::size_t>(n) - 1];
  for (const QSerialPortInfo& port : ports) {
    if (port.portName().toStdString() == wanted) return port.systemLocation().toStdString();
  }
  return std::nullopt;
}

}  // namespace talmir880
