#pragma once

// What a control system's client reads of the generator, made on the
// core's thread from what the faces know, so that a read never waits for
// the core: the attributes' values and how far each is true, the state and
// its sentence.

#include <optional>
#include <string>
#include <vector>

#include "control/attributes.hpp"
#include "device/device_faults.hpp"
#include "device/generator_state.hpp"
#include "generator/settings_record.hpp"

namespace talmir880::control {

// ON and OFF only while the device acknowledged the RF so; UNKNOWN while an
// output is not confirmed; FAULT while the device cannot be reached, or is
// silent with both outputs known; MOVING while a pass runs.
enum class State { on, off, unknown, fault, moving };
// Changing: written, the device's R not come yet. Invalid: not confirmed.
enum class Quality { valid, invalid, changing };

struct Observed {
  Settings settings;  // as the queries answer them
  Held held;          // the line's record of the device
  std::optional<Pass> pass;
  PortState port = PortState::closed;
  DeviceFault fault = DeviceFault::none;
  std::string port_name;       // "COM9", for the status
  std::vector<bool> changing;  // by attribute
};

struct Snapshot {
  std::vector<double> values;  // by attribute
  std::vector<Quality> qualities;
  State state = State::unknown;
  std::string status;  // one sentence

  bool operator==(const Snapshot&) const = default;
};

Snapshot snapshot_of(const Observed& observed, const std::vector<Attribute>& attributes);

}  // namespace talmir880::control
