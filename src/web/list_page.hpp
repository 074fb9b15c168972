#pragma once

// The page on / when one server drives several generators: each by its
// name (*IDN?'s serial field), its VISA resource strings, its port and
// its RF output as they were when the page was asked for (list.js keeps
// them live), and a link to its front panel.

#include <string>
#include <vector>

#include "device/generator_state.hpp"

namespace talmir880::web {

struct ListedGenerator {
  std::string name;
  std::string socket_resource;  // empty when that way in is off
  std::string instr_resource;
  PortState port = PortState::closed;
  Switched rf = Switched::unsure;
};

// In the server's order: generator i is /inst<i>/.
std::string list_html(const std::vector<ListedGenerator>& generators);

}  // namespace talmir880::web
