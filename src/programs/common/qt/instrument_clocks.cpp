#include "programs/common/qt/instrument_clocks.hpp"

#include <QMetaObject>
#include <utility>

namespace talmir880::programs {

InstrumentClocks::InstrumentClocks(std::function<std::chrono::milliseconds()> quiet_time,
                                   std::function<scpi::Instrument&()> instrument)
    : instrument_(std::move(instrument)),
      watchdog_(kAcknowledgeTimeout, [this] { instrument_().watchdog_ran_out(); }),
      stall_(kSweepStallTimeout, [this] { instrument_().stall_ran_out(); }),
      quiet_(std::move(quiet_time), [this] { instrument_().quiet_ran_out(); }),
      reopen_(kReopenInterval, [this] { instrument_().reopen_ran_out(); }),
      next_turn_([this] { instrument_().next_turn_ran_out(); }) {}

void NextPass::start() {
  running_ = true;
  if (posted_) return;
  posted_ = true;
  QMetaObject::invokeMethod(
      &context_,
      [this] {
        posted_ = false;
        if (!running_) return;
        running_ = false;
        expired_();
      },
      Qt::QueuedConnection);
}

}  // namespace talmir880::programs
