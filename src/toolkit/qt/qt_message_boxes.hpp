#pragma once

#include "toolkit/message_box.hpp"

namespace talmir880 {

// Modal QMessageBox without an icon. exec() runs a nested event loop, so
// timers and serial events keep being handled while the box is open, as the
// panel expects. Escape or closing the box is Cancel where there is one; a
// box with OK only has nothing else to answer.
class QtMessageBoxes : public MessageBoxes {
 public:
  Answer show(const Message& message) override;
};

}  // namespace talmir880
