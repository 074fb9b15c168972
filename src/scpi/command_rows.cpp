// Every command of the instrument, one row each: its header, what its
// setting and its query do, and the kind and limits of its parameter.
#include "scpi/command_rows.hpp"

#include "protocol/settings.hpp"
#include "scpi/setters.hpp"

namespace talmir880::scpi {
namespace {

using namespace setters;
using protocol::kContinuous;
using protocol::kModulationFrequency;
using protocol::kModulationOutput;
using protocol::kRfFrequency;
using protocol::kRfOutput;
using protocol::kSweepCentre;
using protocol::kSweepMode;
using protocol::kSweepPoints;
using protocol::kSweepSpan;
using protocol::kSweepStart;
using protocol::kSweepStop;
using protocol::kTuningStep;

constexpr Accepts kNothing{};
constexpr Accepts kBoolean{Takes::boolean};
constexpr Accepts count(double min, double max) { return {Takes::count, min, max}; }

// A setting's parameter as its description has it.
constexpr Accepts accepts(const protocol::Setting& s) {
  switch (s.kind) {
    case protocol::SettingKind::frequency:
      return {s.steps ? Takes::frequency_or_step : Takes::frequency, s.min, s.max, {}, s.unit};
    case protocol::SettingKind::count:
      return {Takes::count, s.min, s.max, {}, s.unit};
    case protocol::SettingKind::level:
      return {Takes::level, s.min, s.max, s.levels, s.unit};
    case protocol::SettingKind::boolean:
      return kBoolean;
    case protocol::SettingKind::mode:
      break;
  }
  return {Takes::mode};
}

constexpr Accepts kMask = count(0, Status::kByteMask);
constexpr Accepts kRegisterMask = count(0, StatusRegister::kMask);

std::string flag(bool on) { return on ? "1" : "0"; }

// clang-format off
// The settings that are not plain.
const Row kSettingRows[] = {
    {kRfFrequency.header, set_frequency,
     [](Call& c) { return whole(c.settings().frequency_hz); }, accepts(kRfFrequency)},
    {kRfFrequency.also, set_frequency,
     [](Call& c) { return whole(c.settings().frequency_hz); }, accepts(kRfFrequency)},
    {kSweepStart.header, set_start,
     [](Call& c) { return whole(c.settings().start_hz); }, accepts(kSweepStart)},
    {kSweepStop.header, set_stop,
     [](Call& c) { return whole(c.settings().stop_hz); }, accepts(kSweepStop)},
    {kSweepCentre.header, set_centre,
     [](Call& c) { return whole(centre(c.settings())); }, accepts(kSweepCentre)},
    {kSweepSpan.header, set_span,
     [](Call& c) { return whole(span(c.settings())); }, accepts(kSweepSpan)},
    {kTuningStep.header, set_step,
     [](Call& c) { return whole(c.settings().step_hz); }, accepts(kTuningStep)},
    {kSweepMode.header, set_mode,
     [](Call& c) { return std::string(c.settings().sweep_mode ? "SWE" : "CW"); },
     accepts(kSweepMode)},
    {kModulationFrequency.header, set_lf_frequency,
     [](Call& c) { return whole(c.settings().lf_frequency_hz); }, accepts(kModulationFrequency)},
    {kSweepPoints.header, set_points,
     [](Call& c) { return whole(c.settings().points); }, accepts(kSweepPoints)},
    {kRfOutput.header, set_output,
     [](Call& c) { return flag(c.settings().output_on); }, accepts(kRfOutput)},
    {kModulationOutput.header, set_modulation,
     [](Call& c) { return flag(c.settings().modulation_on); }, accepts(kModulationOutput)},
    {kContinuous.header, set_continuous,
     [](Call& c) { return flag(c.settings().continuous); }, accepts(kContinuous)},
};

const Row kOtherRows[] = {
    {"INITiate[:IMMediate]", initiate, nullptr, kNothing},
    {"ABORt", setters::abort, nullptr, kNothing},

    {"STATus:OPERation[:EVENt]", nullptr,
     [](Call& c) { return whole(c.status().operation.read_event()); }, kNothing},
    {"STATus:OPERation:CONDition", nullptr,
     [](Call& c) { return whole(c.status().operation.condition()); }, kNothing},
    {"STATus:OPERation:ENABle",
     [](Call& c) { c.status().operation.set_enable(static_cast<int>(c.value.number)); },
     [](Call& c) { return whole(c.status().operation.enable()); }, kRegisterMask},
    {"STATus:QUEStionable[:EVENt]", nullptr,
     [](Call& c) { return whole(c.status().questionable.read_event()); }, kNothing},
    {"STATus:QUEStionable:CONDition", nullptr,
     [](Call& c) { return whole(c.status().questionable.condition()); }, kNothing},
    {"STATus:QUEStionable:ENABle",
     [](Call& c) { c.status().questionable.set_enable(static_cast<int>(c.value.number)); },
     [](Call& c) { return whole(c.status().questionable.enable()); }, kRegisterMask},
    {"STATus:PRESet",
     [](Call& c) {
       c.status().operation.set_enable(0);
       c.status().questionable.set_enable(0);
     },
     nullptr, kNothing},
    {"SYSTem:ERRor[:NEXT]", nullptr, [](Call& c) { return c.status().next_error(); }, kNothing},
    {"SYSTem:ERRor:ALL", nullptr, [](Call& c) { return c.status().all_errors(); }, kNothing},
    {"SYSTem:ERRor:COUNt", nullptr,
     [](Call& c) { return std::to_string(c.status().queued()); }, kNothing},
    // The SCPI standard this command set follows.
    {"SYSTem:VERSion", nullptr, [](Call&) { return std::string("1999.0"); }, kNothing},
    // Only the panel has local controls to lock; REMote and LOCal free them.
    {"SYSTem:REMote", [](Call& c) { c.generator.unlock(); }, nullptr, kNothing},
    {"SYSTem:LOCal", [](Call& c) { c.generator.unlock(); }, nullptr, kNothing},
    {"SYSTem:RWLock", [](Call& c) { c.generator.lock(c.client); }, nullptr, kNothing},

    {"*CLS", [](Call& c) { c.status().clear(); }, nullptr, kNothing},
    {"*ESE", [](Call& c) { c.status().set_event_enable(static_cast<int>(c.value.number)); },
     [](Call& c) { return whole(c.status().event_enable()); }, kMask},
    {"*ESR", nullptr, [](Call& c) { return whole(c.status().read_event_status()); }, kNothing},
    {"*IDN", nullptr, ask_identity, kNothing},
    {"*OPC", operation_complete, ask_operation_complete, kNothing},
    {"*OPT", nullptr, [](Call&) { return std::string("0"); }, kNothing},
    {"*RST", reset, nullptr, kNothing},
    {"*SAV", save, nullptr, count(0, 0)},
    {"*SRE", [](Call& c) { c.status().set_service_enable(static_cast<int>(c.value.number)); },
     [](Call& c) { return whole(c.status().service_enable()); }, kMask},
    {"*STB", nullptr,
     [](Call& c) { return whole(c.status().status_byte(!c.answers.empty())); }, kNothing},
    {"*TST", nullptr, ask_self_test, kNothing},
    {"*WAI", setters::wait, nullptr, kNothing},
};
// clang-format on
}  // namespace

std::vector<Row> plain_rows(std::span<const protocol::Setting> settings) {
  std::vector<Row> out;
  for (const protocol::Setting& s : settings) {
    if (!protocol::is_plain(s)) continue;
    for (const std::string_view header : {s.header, s.also}) {
      if (!header.empty()) {
        out.push_back(
            {header, set_plain, ask_plain, accepts(s), &s, protocol::plain_slot(s, settings)});
      }
    }
  }
  return out;
}

std::span<const Row> rows() {
  static const std::vector<Row> all = [] {
    std::vector<Row> out(std::begin(kSettingRows), std::end(kSettingRows));
    const std::vector<Row> plain = plain_rows(protocol::kSettings);
    out.insert(out.end(), plain.begin(), plain.end());
    out.insert(out.end(), std::begin(kOtherRows), std::end(kOtherRows));
    return out;
  }();
  return all;
}

}  // namespace talmir880::scpi
