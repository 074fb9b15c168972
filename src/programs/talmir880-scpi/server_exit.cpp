#include "programs/talmir880-scpi/server_exit.hpp"

#include <QCoreApplication>

namespace talmir880::programs {

void ServerExit::request() {
  if (stopping_ || !options_.off_at_exit) {
    QCoreApplication::quit();
    return;
  }
  stopping_ = true;
  faces_.close();
  switching_off_ = generators_.size();
  for (const auto& generator : generators_) {
    generator->switch_off_for_exit([this] {
      if (--switching_off_ == 0) QCoreApplication::quit();
    });
  }
}

}  // namespace talmir880::programs
