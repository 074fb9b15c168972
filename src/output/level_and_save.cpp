#include "output/level_and_save.hpp"

#include <array>

namespace talmir880 {
namespace {

// By Combo1 index: -3, -6, -9 and -12 dBm.
constexpr std::array<const char*, 4> kLevelCommands = {"$P3", "$P2", "$P1", "$P0"};
constexpr std::array<const char*, 2> kSaveCommands = {"$S0", "$S1"};

}  // namespace

LevelAndSave::LevelAndSave(const ComboBox& Combo1, const ComboBox& Combo4,
                           const std::string& save_hint, Link& link, const Notices& notices)
    : Combo1_(Combo1), Combo4_(Combo4), save_hint_(save_hint), link_(link), notices_(notices) {}

void LevelAndSave::Combo1_Click() {
  int index = Combo1_.ListIndex();
  if (index < 0 || index >= static_cast<int>(kLevelCommands.size())) return;
  level_command = kLevelCommands[static_cast<std::size_t>(index)];
  // Exact equality: an empty level_sent (during start-up) must not match.
  if (level_command == level_sent) return;
  if (!level_sent.empty()) link_.arm_watchdog();
  link_.empty_received();
  if (link_.port_open()) {
    link_.write(level_command);
    level_sent = level_command;
  }
}

void LevelAndSave::Command24_Click() {
  if (notices_.ask(save_hint_) != Answer::Ok) return;
  link_.arm_watchdog();
  int mode = Combo4_.ListIndex();
  if (link_.port_open() && mode >= 0 && mode < static_cast<int>(kSaveCommands.size())) {
    link_.empty_received();
    link_.write(kSaveCommands[static_cast<std::size_t>(mode)]);
  }
}

}  // namespace talmir880
