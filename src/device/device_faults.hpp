#pragma once

#include <cstdint>
#include <string_view>

#include "link/serial_port.hpp"

namespace talmir880 {

// What can go wrong with the device.
enum class DeviceFault : std::uint8_t {
  none,
  no_acknowledge,  // no R within kAcknowledgeTimeout
  stalled,         // a sweep pass made no progress for kSweepStallTimeout
  port_busy,       // another program holds the port
  no_such_port,    // the port is not there
  device_gone,     // the port failed reading or writing: the device went away
  port_failed,     // the port would not open, for another reason
  port_closed,     // the port is another's to open, and it is closed
  link_lost,       // the network link to the device dropped or cannot be made
  host_unknown,    // the name of the device's host does not resolve
};

// The fault in a few words ("no acknowledge", "port busy"), as errors and
// logs name it; empty for none.
std::string_view cause(DeviceFault fault);

// Whether the fault means the device cannot be reached at all.
inline bool unreachable(DeviceFault fault) {
  return fault != DeviceFault::none && fault != DeviceFault::no_acknowledge &&
         fault != DeviceFault::stalled;
}

// A port that would not open, by why; and one that failed while open: a
// device gone, or the network to it.
DeviceFault open_fault(PortError::Cause cause);
DeviceFault lost_fault(const PortError& fault);

}  // namespace talmir880
