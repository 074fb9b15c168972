#pragma once

// The generator's attributes in a control system (Tango), made from the
// settings' description: a setting gains its attribute by being described.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/settings.hpp"

namespace talmir880::control {

// Every value is carried as a double: a flag 0 or 1, a choice its place.
enum class AttributeType { real, whole, flag, choice };

struct Attribute {
  std::string name;  // lowerCamel: "frequency", "rfOutput"
  // The setting it shows; null for the sweep's progress, which is read only.
  const protocol::Setting* setting = nullptr;
  AttributeType type = AttributeType::real;
  bool writable = true;
  // Written again at start: a setpoint. A switch and a mode never are, so
  // that a restart switches nothing on.
  bool memorized = false;
  std::string label;
  std::string unit;
  std::string format;  // printf-style, as the control system shows it
  std::optional<double> min;
  std::optional<double> max;
  std::vector<std::string> choices;  // a choice's words, in capitals
};

// A value as a SCPI line and the control system's limits write it: every
// digit a double keeps, none after them ("20", "123450000", "-6").
std::string number(double value);

// "rf_output" as "rfOutput".
std::string lower_camel(std::string_view snake);

// Every described setting's attribute, in the description's order, then
// sweepProgress (the points of the running pass, 0 to 100 %).
std::vector<Attribute> attributes_of(
    std::span<const protocol::Setting> settings = protocol::kSettings);

// The SCPI line that sets the attribute to `value`, or nothing when the
// value is none of the setting's: outside its limits, not one of its
// levels, not a choice; the refusal's sentence goes to `why`.
std::optional<std::string> write_line(const Attribute& attribute, double value, std::string& why);

}  // namespace talmir880::control
