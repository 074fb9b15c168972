#pragma once

// Which device "COM<n>" is. On Windows it is the port of that name. Elsewhere
// it is COM<n> in the ports folder when that folder can be trusted
// (platform/port_location.hpp), or else the n-th serial device the system
// lists, USB adapters first: a user with a single adapter finds it as COM1
// whatever the machine's built-in ports are.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talmir880 {

// Digit runs compare by value, so ttyS2 comes before ttyS10.
bool natural_less(std::string_view a, std::string_view b);

// ttyUSB* and ttyACM*.
bool is_usb_serial_name(std::string_view name);

// The system's serial device names in the order the panel numbers them: USB
// serial devices first, then the rest, each group in natural order.
std::vector<std::string> order_serial_ports(std::vector<std::string> names);

// The device to open for port n, or nullopt when there is none.
std::optional<std::string> serial_port_location(int n);

}  // namespace talmir880
