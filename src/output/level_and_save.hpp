#pragma once

#include <string>

#include "device/link.hpp"
#include "toolkit/controls.hpp"
#include "toolkit/message_box.hpp"

namespace talmir880 {

// The RF level list and the SAVE FLASH button.
class LevelAndSave {
 public:
  LevelAndSave(ComboBox& Combo1, const ComboBox& Combo4, const std::string& save_hint, Link& link,
               const Notices& notices);

  void Combo1_Click();
  void Command24_Click();

  // A level the device took from elsewhere: picked in the list, and taken
  // as the level last written, so nothing is sent for it.
  void show_level(int dbm);

  // The level command of the level picked last, and of the level last
  // written; they differ only after a pick made while the port was closed.
  std::string level_command;
  std::string level_sent;

 private:
  ComboBox& Combo1_;
  const ComboBox& Combo4_;
  const std::string& save_hint_;
  Link& link_;
  const Notices& notices_;
};

}  // namespace talmir880
