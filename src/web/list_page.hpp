#pragma once

// The page on / when one server drives several generators: each by its
// name (*IDN?'s serial field), its VISA resource strings, its port and
// its RF output as they were when the page was asked for (list.js keeps
// them live and words them in the visitor's language), and a link to its
// front panel. What it says is decided here; web/qt/list_document.hpp
// writes it as HTML.

#include <optional>
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

// A text of the list as list.js words it in the visitor's language: its
// key, its argument where its texts take one, and the English text with
// the argument in it until the script has run.
struct ListText {
  std::string key;
  std::optional<std::string> arg;
  std::string english;
};
ListText list_text(const std::string& key, const std::string& arg = {});

// The class and the text of a port's state and of an output: never "off"
// while it may be on.
const char* port_class(PortState port);
std::string port_key(PortState port);
const char* switched_class(Switched output);
const char* switched_key(Switched output);

// A VISA resource string in the pieces a narrow screen may break it
// between: after each "::" but an IPv6 host's own.
std::vector<std::string> visa_pieces(const std::string& resource);

}  // namespace talmir880::web
