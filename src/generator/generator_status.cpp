// The status bits the generator sets, and the device faults it reports.
#include "generator/generator.hpp"

namespace talmir880 {

void Generator::note_certainty() {
  const Held& h = line_.state().held();
  statuses_.set_questionable(Status::kNotConfirmed,
                             h.rf == Switched::unsure || h.modulation == Switched::unsure);
}

namespace {

// Reached but not answering, or not reached at all.
int error_of(DeviceFault fault) { return unreachable(fault) ? kHardwareMissing : kHardwareError; }

}  // namespace

void Generator::report(ClientId client, DeviceFault fault) {
  if (fault == DeviceFault::none) return;
  statuses_.set_questionable(Status::kNotAnswering, true);
  statuses_.report(client, error_of(fault), cause(fault));
}

void Generator::report_to_all(DeviceFault fault) {
  statuses_.set_questionable(Status::kNotAnswering, true);
  statuses_.report_all(error_of(fault), cause(fault));
}

}  // namespace talmir880
