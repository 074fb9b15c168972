#pragma once

// The page on / when one server drives several generators: each by its
// name (*IDN?'s serial field), its VISA resource strings, its port and
// its RF output as they were when the page was asked for (list.js keeps
// them live and words them in the visitor's language), and a link to its
// front panel.

#include <string>
#include <vector>

#include "device/generator_state.hpp"

namespace talmir880::web {

struct ListedGenerator {
  std::string name;
  // Empty when that way in is off, or not for this visitor.
  std::string socket_resource;
  std::string instr_resource;
  PortState port = PortState::closed;
  Switched rf = Switched::unsure;
  // The way in is there, but only this machine reaches it.
  bool socket_this_machine_only = false;
  bool instr_this_machine_only = false;
};

// In the server's order: generator i is /inst<i>/.
std::string list_html(const std::vector<ListedGenerator>& generators);

// A VISA resource string as HTML that a narrow screen breaks only after
// a "::".
std::string visa_html(const std::string& resource);

}  // namespace talmir880::web
