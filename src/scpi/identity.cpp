// *IDN?'s fields, and the generator's name its serial field carries.
#include <string>
#include <utility>

#include "scpi/identity.hpp"

#ifndef TALMIR880_VERSION
#error "the build passes the program's version as TALMIR880_VERSION"
#endif

namespace talmir880::scpi {

Identity identity(std::string_view serial) {
  return {"TALMIR", "TALMIR-880", serial_field(serial), TALMIR880_VERSION};
}

std::string serial_field(std::string_view name) {
  if (name.empty()) return "0";
  std::string out(name);
  for (char& c : out) {
    if (!fits_serial_field(c)) c = '_';
  }
  return out;
}

std::string identity_text(const Identity& id) {
  return id.manufacturer + "," + id.model + "," + id.serial + "," + id.firmware;
}

}  // namespace talmir880::scpi
