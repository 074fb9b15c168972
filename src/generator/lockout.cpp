#include "generator/lockout.hpp"

namespace talmir880 {

void Lockout::lock(ClientId client) {
  const bool was = locked();
  by_ = client;
  if (!was) changed_(true);
}

void Lockout::unlock() {
  if (!locked()) return;
  by_.reset();
  changed_(false);
}

void Lockout::client_left(ClientId client) {
  if (by_ == client) unlock();
}

}  // namespace talmir880
