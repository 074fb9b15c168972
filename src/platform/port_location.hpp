#pragma once

// How this system names a serial port: port N as the panel's list numbers
// it, and a port as a user writes it on a command line. On Windows port N is
// COMN, which may also be written \\.\COMN, and any of Windows' COM1 to
// COM256 may be named. Elsewhere COM<n> is a link in the ports folder
// (ports_folder.hpp) or else the n-th serial device the system lists (which
// the Qt room asks), and a port may be named by its device path.

#include <optional>
#include <string>
#include <string_view>

namespace talmir880::platform {

// The device port N is without asking the system's list, or nothing.
std::optional<std::string> named_port(int n);

struct SerialChoice {
  int comm_port = 0;   // COM<n>, when named so
  std::string device;  // a device path otherwise
};
// COM<n> or com<n>, n alone, or a device path; `listed` is the last port the
// panel lists. Reserved names (CON, NUL, LPT1) and Windows' "COM1:" name no
// serial port: nothing.
std::optional<SerialChoice> serial_port_named(std::string_view text, int listed);
// The forms it takes, for a refusal: "COM1 to COM10, 1 to 10, a device path".
std::string serial_port_forms(int listed);
// What --port says of them in --help, in lines of at most 60 columns.
std::string serial_port_help(int listed);

}  // namespace talmir880::platform
