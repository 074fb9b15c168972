#include "control/snapshot.hpp"

#include <algorithm>
#include <cstdio>

namespace talmir880::control {

namespace {

double progress_of(const std::optional<Pass>& pass) {
  if (!pass || pass->expected == 0) return 0;
  return 100.0 * static_cast<double>(std::min(pass->seen, pass->expected)) /
         static_cast<double>(pass->expected);
}

// The output an attribute shows, if it shows one.
const Switched* output_of(const Attribute& a, const Held& held) {
  if (a.setting == nullptr) return nullptr;
  if (a.setting->name == protocol::kRfOutput.name) return &held.rf;
  if (a.setting->name == protocol::kModulationOutput.name) return &held.modulation;
  return nullptr;
}

bool out_of_reach(const Observed& o) { return o.port != PortState::open || unreachable(o.fault); }

std::string fault_sentence(const Observed& o) {
  std::string why(cause(o.fault));
  if (why.empty()) {
    switch (o.port) {
      case PortState::closed:
        why = "port not open";
        break;
      case PortState::absent:
        why = "port would not open";
        break;
      case PortState::gone:
        why = "device gone";
        break;
      case PortState::open:
        break;
    }
  }
  return "The generator on " + o.port_name + " cannot be used: " + why + ".";
}

std::string hz(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f Hz", value);
  return text;
}

}  // namespace

Snapshot snapshot_of(const Observed& o, const std::vector<Attribute>& attributes) {
  Snapshot s;
  for (std::size_t i = 0; i < attributes.size(); ++i) {
    const Attribute& a = attributes[i];
    s.values.push_back(a.setting != nullptr ? setting_value(o.settings, *a.setting)
                                            : progress_of(o.pass));
    const Switched* output = output_of(a, o.held);
    Quality q = Quality::valid;
    if (i < o.changing.size() && o.changing[i]) q = Quality::changing;
    if (output != nullptr && *output == Switched::unsure) q = Quality::invalid;
    s.qualities.push_back(q);
  }
  const bool unsure = o.held.rf == Switched::unsure || o.held.modulation == Switched::unsure;
  // A silent device leaves an output unsure: that it may be on is the
  // first thing to know.
  if (out_of_reach(o) || (o.fault != DeviceFault::none && !o.pass && !unsure)) {
    s.state = State::fault;
    s.status = fault_sentence(o);
  } else if (o.pass) {
    s.state = State::moving;
    s.status = "A sweep pass runs: " + std::to_string(o.pass->points) + " points from " +
               hz(o.pass->start_hz) + ".";
  } else if (unsure) {
    s.state = State::unknown;
    s.status = o.held.rf == Switched::unsure ? "The RF output is not confirmed: it may be on."
                                             : "The modulation is not confirmed: it may be on.";
  } else if (o.held.rf == Switched::on) {
    s.state = State::on;
    s.status = "The RF output is on at " + hz(o.held.rf_hz) + ".";
  } else {
    s.state = State::off;
    s.status = "The RF output is off.";
  }
  return s;
}

}  // namespace talmir880::control
