#pragma once

// A setting the device does not have, described only for tests: given a
// description with it, each face must derive it or demand it. A plain
// frequency, which the page writes in kHz, and the device would take as
// "$O" and seven digits of Hz.
#include <string>

#include "protocol/commands.hpp"
#include "protocol/settings.hpp"

namespace talmir880::testing {

inline constexpr protocol::Setting kTestOnlyOffset{
    .name = "rf_offset",
    .header = "[SOURce]:FREQuency:OFFSet",
    .device = "$O",
    .kind = protocol::SettingKind::frequency,
    .min = 1e3,
    .max = 2e6,
    .unit = "Hz",
    .start_up = 1e3,
    .page_control = "offset",
    .page_action = "offset_khz",
    .page_unit = "kHz",
    .page_group = "signal",
    .page_label = {"频率偏移", "頻率偏移", "Offset"},
    .encode = [](double hz) { return "$O" + protocol::zero_padded(hz, 7); }};

}  // namespace talmir880::testing
