#include "device/device_faults.hpp"

namespace talmir880 {

DeviceFault open_fault(PortError::Cause cause) {
  switch (cause) {
    case PortError::Cause::busy:
      return DeviceFault::port_busy;
    case PortError::Cause::missing:
      return DeviceFault::no_such_port;
    case PortError::Cause::gone:
      return DeviceFault::device_gone;
    case PortError::Cause::closed:
      return DeviceFault::port_closed;
    case PortError::Cause::network:
      return DeviceFault::link_lost;
    case PortError::Cause::unresolved:
      return DeviceFault::host_unknown;
    case PortError::Cause::other:
      break;
  }
  return DeviceFault::port_failed;
}

// A port that failed while open: a device gone, or the network to it.
DeviceFault lost_fault(const PortError& fault) {
  return fault.cause() == PortError::Cause::network ? DeviceFault::link_lost
                                                    : DeviceFault::device_gone;
}

std::string_view cause(DeviceFault fault) {
  switch (fault) {
    case DeviceFault::none:
      break;
    case DeviceFault::no_acknowledge:
      return "no acknowledge";
    case DeviceFault::stalled:
      return "sweep stalled";
    case DeviceFault::port_busy:
      return "port busy";
    case DeviceFault::no_such_port:
      return "no such port";
    case DeviceFault::device_gone:
      return "device gone";
    case DeviceFault::port_failed:
      return "port failed";
    case DeviceFault::port_closed:
      return "port closed";
    case DeviceFault::link_lost:
      return "network link lost";
    case DeviceFault::host_unknown:
      return "host name does not resolve";
  }
  return {};
}

}  // namespace talmir880
