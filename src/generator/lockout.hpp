#pragma once

#include <functional>
#include <optional>
#include <utility>

#include "generator/status.hpp"

namespace talmir880 {

// SYSTem:RWLock from a client: the panel's controls are locked until
// SYSTem:LOCal or :REMote, or until that client leaves. `changed` hears the
// lockout begin (true) and end (false).
class Lockout {
 public:
  explicit Lockout(std::function<void(bool)> changed) : changed_(std::move(changed)) {}

  void lock(ClientId client);
  void unlock();
  void client_left(ClientId client);
  bool locked() const { return by_.has_value(); }

 private:
  std::function<void(bool)> changed_;
  std::optional<ClientId> by_;
};

}  // namespace talmir880
