#pragma once

// The generator's settings, each described once: how scripts name it, what
// goes to the device for it, what it takes, what it starts at and which
// control of the web page shows it. The SCPI rows take their headers and
// limits from here; the documents, the page and the Python class are
// checked against it.

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "protocol/commands.hpp"

namespace talmir880::protocol {

enum class SettingKind { frequency, count, level, boolean, mode };

// As the faces that are given the description name it ("frequency").
constexpr std::string_view kind_name(SettingKind kind) {
  switch (kind) {
    case SettingKind::frequency:
      return "frequency";
    case SettingKind::count:
      return "count";
    case SettingKind::level:
      return "level";
    case SettingKind::boolean:
      return "boolean";
    case SettingKind::mode:
      break;
  }
  return "mode";
}

struct Setting {
  std::string_view name{};    // "rf_frequency"
  std::string_view header{};  // as the SCPI row writes it
  std::string_view also{};    // another row of the same setting; "" for none
  // The device command it goes out in; "" when only the instrument keeps
  // it. Sweep settings go out with a pass's "$W".
  std::string_view device{};
  SettingKind kind = SettingKind::frequency;
  bool steps = false;               // a frequency that also takes UP and DOWN
  double min = 0;                   // frequency, count, level: the lowest
  double max = 0;                   // and the highest
  std::span<const int> levels{};    // level: every one the device has
  std::string_view choices{};       // mode: its words, "|" between
  std::string_view unit{};          // "Hz", "dBm"; "" for a count or a switch
  double start_up = 0;              // a switch or a mode: 0 off / the first word
  std::string_view page_control{};  // the web page's control; "" where none
  std::string_view page_action{};   // the action that control sends
  std::string_view page_unit{};     // the unit the page writes it in; "": `unit`
  // Where the page builds its control: index.html's place of that name.
  std::string_view page_group{};
  std::array<std::string_view, 3> page_label{};  // its words: zh-CN, zh-TW, en
  // Its attribute in the Python class, where that is not its name.
  std::string_view python{};
  // Its attribute in a control system, where that is not its name in
  // lowerCamel ("rf_output": "rfOutput").
  std::string_view control{};
  // A plain setting's bytes for a value; null for the others. A plain
  // setting is a value of the device's own, sent whenever it is set (the
  // device cannot be asked for it) and known once acknowledged: its SCPI
  // rows, its *RST and its record are made from this description alone.
  std::string (*encode)(double) = nullptr;
};

constexpr bool is_plain(const Setting& s) { return s.encode != nullptr; }

// The sweep's fields start at one 10 Hz unit.
inline constexpr double kLowestSweepHz = kRfUnitHz;

// An RF of one 10 Hz unit is the RF-off command itself, so the lowest
// frequency that keeps the output on is two units.
inline constexpr Setting kRfFrequency{.name = "rf_frequency",
                                      .header = "[SOURce]:FREQuency[:CW]",
                                      .also = "[SOURce]:FREQuency:FIXed",
                                      .device = "$F",
                                      .kind = SettingKind::frequency,
                                      .steps = true,
                                      .min = 2 * kRfUnitHz,
                                      .max = kMaxRfHz,
                                      .unit = "Hz",
                                      .start_up = kStartUp.rf_hz,
                                      .page_control = "rf",
                                      .page_action = "rf_mhz",
                                      .page_unit = "MHz",
                                      .page_group = "tuning",
                                      .page_label = {"射频频率", "射頻頻率", "RF frequency"},
                                      .python = "frequency",
                                      .control = "frequency"};
inline constexpr Setting kRfOutput{.name = "rf_output",
                                   .header = "OUTPut[:STATe]",
                                   .device = "$F",
                                   .kind = SettingKind::boolean,
                                   .page_control = "rf-on",
                                   .page_action = "rf_on",
                                   .page_group = "signal",
                                   .page_label = {"射频 开/关", "射頻開/關", "RF output"},
                                   .python = "output_enabled"};
inline constexpr Setting kModulationFrequency{
    .name = "modulation_frequency",
    .header = "[SOURce]:LFOutput:FREQuency",
    .device = "$M",
    .kind = SettingKind::frequency,
    .min = 1,
    .max = kMaxModulationHz,
    .unit = "Hz",
    .start_up = kStartUp.modulation_hz,
    .page_control = "mod",
    .page_action = "mod_khz",
    .page_unit = "kHz",
    .page_group = "signal",
    .page_label = {"调制频率", "調製頻率", "Modulation frequency"}};
inline constexpr Setting kModulationOutput{.name = "modulation_output",
                                           .header = "OUTPut:MODulation[:STATe]",
                                           .device = "$M",
                                           .kind = SettingKind::boolean,
                                           .page_control = "mod-on",
                                           .page_action = "mod_on",
                                           .page_group = "signal",
                                           .page_label = {"调制 开/关", "調製開/關", "Modulation"},
                                           .python = "modulation_enabled"};
inline constexpr Setting kLevel{
    .name = "level",
    .header = "[SOURce]:POWer[:LEVel][:IMMediate][:AMPLitude]",
    .device = "$P",
    .kind = SettingKind::level,
    .min = kLevelsDbm.back(),
    .max = kLevelsDbm.front(),
    .levels = kLevelsDbm,
    .unit = "dBm",
    .start_up = kStartUp.level_dbm,
    .page_control = "level",
    .page_action = "level",
    .page_group = "signal",
    .page_label = {"射频电平", "射頻電平", "Level"},
    .python = "power",
    .control = "powerLevel",
    .encode = [](double dbm) { return rf_level(static_cast<int>(dbm)); }};
inline constexpr Setting kSweepStart{.name = "sweep_start",
                                     .header = "[SOURce]:FREQuency:STARt",
                                     .device = "$W",
                                     .kind = SettingKind::frequency,
                                     .min = kLowestSweepHz,
                                     .max = kMaxRfHz,
                                     .unit = "Hz",
                                     .start_up = kStartUp.sweep_start_hz,
                                     .page_control = "start",
                                     .page_action = "start_mhz",
                                     .page_unit = "MHz",
                                     .page_group = "sweep",
                                     .page_label = {"开始", "開始", "Sweep start"},
                                     .python = "start_frequency"};
inline constexpr Setting kSweepStop{.name = "sweep_stop",
                                    .header = "[SOURce]:FREQuency:STOP",
                                    .device = "$W",
                                    .kind = SettingKind::frequency,
                                    .min = kLowestSweepHz,
                                    .max = kMaxRfHz,
                                    .unit = "Hz",
                                    .start_up = kStartUp.sweep_end_hz,
                                    .page_control = "stop",
                                    .page_action = "stop_mhz",
                                    .page_unit = "MHz",
                                    .page_group = "sweep",
                                    .page_label = {"结束", "結束", "Sweep stop"},
                                    .python = "stop_frequency"};
// Centre and span are start and stop seen another way.
inline constexpr Setting kSweepCentre{
    .name = "sweep_centre",
    .header = "[SOURce]:FREQuency:CENTer",
    .device = "$W",
    .kind = SettingKind::frequency,
    .min = kLowestSweepHz,
    .max = kMaxRfHz,
    .unit = "Hz",
    .start_up = (kStartUp.sweep_start_hz + kStartUp.sweep_end_hz) / 2,
    .python = "center_frequency"};
inline constexpr Setting kSweepSpan{.name = "sweep_span",
                                    .header = "[SOURce]:FREQuency:SPAN",
                                    .device = "$W",
                                    .kind = SettingKind::frequency,
                                    .min = 0,
                                    .max = kMaxRfHz - kLowestSweepHz,
                                    .unit = "Hz",
                                    .start_up = kStartUp.sweep_end_hz - kStartUp.sweep_start_hz,
                                    .python = "span"};
inline constexpr Setting kSweepPoints{.name = "sweep_points",
                                      .header = "[SOURce]:SWEep:POINts",
                                      .device = "$W",
                                      .kind = SettingKind::count,
                                      .min = kMinSweepPoints,
                                      .max = kMaxSweepPoints,
                                      .start_up = kStartUp.sweep_points,
                                      .page_control = "points",
                                      .page_action = "points",
                                      .page_group = "sweep",
                                      .page_label = {"采样", "採樣", "Sweep points"}};
// FREQ UP and DOWN's step: the panel's widest tuning step at most, and no
// finer than the device's RF unit.
inline constexpr Setting kTuningStep{.name = "tuning_step",
                                     .header = "[SOURce]:FREQuency:STEP[:INCRement]",
                                     .kind = SettingKind::frequency,
                                     .min = kRfUnitHz,
                                     .max = kTuningStepsHz.front(),
                                     .unit = "Hz",
                                     .start_up = kStartUp.step_hz,
                                     .page_control = "step",
                                     .page_action = "step_hz",
                                     .page_group = "tuning",
                                     .page_label = {"步进", "步進", "Tuning step"},
                                     .python = "frequency_step"};
inline constexpr Setting kSweepMode{.name = "sweep_mode",
                                    .header = "[SOURce]:FREQuency:MODE",
                                    .kind = SettingKind::mode,
                                    .choices = "CW|FIXed|SWEep",
                                    .python = "sweep_mode_enabled"};
inline constexpr Setting kContinuous{
    .name = "continuous_sweep", .header = "INITiate:CONTinuous", .kind = SettingKind::boolean};

inline constexpr std::array<Setting, 13> kSettings = {
    kRfFrequency, kRfOutput,  kModulationFrequency, kModulationOutput, kLevel,
    kSweepStart,  kSweepStop, kSweepCentre,         kSweepSpan,        kSweepPoints,
    kTuningStep,  kSweepMode, kContinuous};

// Where a plain setting's value is kept: its place in `settings`, whose
// own it is. Every setting has a slot, so that finding one never asks
// whether a setting is plain where the answer must be known at compile
// time: a sanitized build cannot compare a function's address then.
constexpr std::size_t plain_slot(const Setting& s, std::span<const Setting> settings = kSettings) {
  std::size_t slot = 0;
  while (slot < settings.size() && settings[slot].name != s.name) ++slot;
  return slot;
}

// The plain settings' values, by their slots.
using PlainValues = std::array<double, kSettings.size()>;

constexpr PlainValues plain_start_up() {
  PlainValues values{};
  for (std::size_t i = 0; i < kSettings.size(); ++i) values[i] = kSettings[i].start_up;
  return values;
}

// Computed once: a default member initializer calling the function would
// run it again at every construction.
inline constexpr PlainValues kPlainStartUp = plain_start_up();

}  // namespace talmir880::protocol
