// The device lock: held by one link of each device.
#include "vxi11/core_channel.hpp"

namespace talmir880::vxi11 {

std::optional<std::string> CoreChannel::lock_refused(const Open& open) {
  if (open.blocked == Blocked::lock) return std::nullopt;
  return failure(open, kDeviceLockedByAnotherLink);
}

bool CoreChannel::locked_out(const Link& link, std::int32_t lid, std::int32_t flags, Open& open) {
  const std::optional<std::int32_t>& holder = lock_holders_[link.device];
  if (!holder || *holder == lid) return false;
  if ((flags & kWaitLock) != 0) open.blocked = Blocked::lock;
  return true;
}

std::string CoreChannel::unlock(const Link& link, std::int32_t lid) {
  std::optional<std::int32_t>& holder = lock_holders_[link.device];
  if (holder != lid) return encode(DeviceError{kNoLockHeldByThisLink});
  holder.reset();
  dirty_ = true;
  return encode(DeviceError{kNoError});
}

}  // namespace talmir880::vxi11
