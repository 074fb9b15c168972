#include "output/level_and_save.hpp"

#include <algorithm>

#include "protocol/commands.hpp"

namespace talmir880 {

LevelAndSave::LevelAndSave(ComboBox& Combo1, const ComboBox& Combo4, const std::string& save_hint,
                           Link& link, const Notices& notices)
    : Combo1_(Combo1), Combo4_(Combo4), save_hint_(save_hint), link_(link), notices_(notices) {}

void LevelAndSave::Combo1_Click() {
  const int index = Combo1_.ListIndex();
  if (index < 0 || index >= static_cast<int>(protocol::kLevelsDbm.size())) return;
  level_command = protocol::rf_level(protocol::kLevelsDbm[static_cast<std::size_t>(index)]);
  // Exact equality: an empty level_sent (during start-up) must not match.
  if (level_command == level_sent) return;
  if (!level_sent.empty()) link_.arm_watchdog();
  link_.empty_received();
  if (link_.port_open() && link_.write(level_command)) level_sent = level_command;
}

void LevelAndSave::show_level(int dbm) {
  const auto& levels = protocol::kLevelsDbm;
  const auto* at = std::find(levels.begin(), levels.end(), dbm);
  if (at == levels.end()) return;
  level_sent = protocol::rf_level(dbm);
  // The pick runs Combo1_Click, which finds the level already written.
  Combo1_.set_ListIndex(static_cast<int>(at - levels.begin()));
}

void LevelAndSave::Command24_Click() {
  if (notices_.ask(save_hint_) != Answer::Ok) return;
  link_.arm_watchdog();
  const int mode = Combo4_.ListIndex();
  if (link_.port_open() && (mode == 0 || mode == 1)) {
    link_.empty_received();
    (void)link_.write(
        protocol::save(mode == 0 ? protocol::SaveMode::single_point : protocol::SaveMode::sweep));
  }
}

}  // namespace talmir880
