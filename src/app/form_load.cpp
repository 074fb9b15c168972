// Start-up: the lists filled, the device's start-up settings taken as sent,
// and the first language.
#include <string>
#include <string_view>

#include "app/form1.hpp"
#include "protocol/commands.hpp"
#include "protocol/settings.hpp"

namespace talmir880 {

void Form1::Form_Load() {
  Combo4.AddItem("单点", 0);
  Combo4.AddItem("扫频", 1);
  Combo4.set_ListIndex(0);

  ProgressBar_sweep.set_Value(50);

  Combo3.AddItem("简体中文", 0);
  Combo3.AddItem("繁体中文", 1);
  Combo3.AddItem("ENGLISH", 2);
  Combo3.set_ListIndex(0);

  for (double step : protocol::kTuningStepsHz) {
    Combo2.AddItem(Tuning::step_caption(step), Combo2.ListCount());
  }
  Combo2.set_ListIndex(0);
  tuning.vfo_step = protocol::kTuningStepsHz.front();

  for (int level : protocol::kLevelsDbm) {
    Combo1.AddItem(std::to_string(level) + "dBm", Combo1.ListCount());
  }
  Combo1.set_ListIndex(0);
  // The device is taken to be at -3 dBm without having been told so.
  output.level_sent = protocol::rf_level(protocol::kStartUp.level_dbm);
  output.level_command = output.level_sent;

  for (int n = kFirstCommPort; n <= kLastCommPort; ++n) {
    COM_Combo.AddItem("COM" + std::to_string(n), n - kFirstCommPort);
  }
  COM_Combo.set_ListIndex(kStartUpCommPort - kFirstCommPort);

  int start_speed = 0;
  for (std::string_view settings : protocol::kSpeedSettings) {
    if (settings == protocol::kStartUpSpeed) start_speed = BAU_Combo.ListCount();
    BAU_Combo.AddItem(std::string(protocol::baud_of(settings)), BAU_Combo.ListCount());
  }
  BAU_Combo.set_ListIndex(start_speed);

  form.set_Caption("TALMIR-880控制软件 KELDOR 2016-01-08");
  Combo3_Click();
}

}  // namespace talmir880
