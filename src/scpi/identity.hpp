#pragma once

// What *IDN? answers, field by field, for faces that show it apart (the
// web page's LXI identification).
#include <string>
#include <string_view>

namespace talmir880::scpi {

struct Identity {
  std::string manufacturer;
  std::string model;
  std::string serial;
  std::string firmware;
};

// The serial field names the generator among others on the same server
// (its port, or the name the user gave it); "0" where nobody named it.
Identity identity(std::string_view serial = "0");
// Whether the serial field carries a character as it is: printable ASCII
// but spaces, the separators of a response (comma, semicolon, quotes) and
// the # that begins a block.
constexpr bool fits_serial_field(char c) {
  return c > ' ' && c <= '~' && c != ',' && c != ';' && c != '"' && c != '\'' && c != '#';
}
// The text as the serial field can carry it, each other byte as "_"; "0"
// for nothing.
std::string serial_field(std::string_view name);
// The fields joined by commas, as *IDN? answers.
std::string identity_text(const Identity& id);

}  // namespace talmir880::scpi
