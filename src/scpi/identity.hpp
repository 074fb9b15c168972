#pragma once

// What *IDN? answers, field by field, for faces that show it apart (the
// web page's LXI identification).
#include <string>

namespace talmir880::scpi {

struct Identity {
  std::string manufacturer;
  std::string model;
  std::string serial;
  std::string firmware;
};

Identity identity();
// The fields joined by commas, as *IDN? answers.
std::string identity_text(const Identity& id);

}  // namespace talmir880::scpi
