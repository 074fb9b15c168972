// Every command of the instrument, one row each: its header, what its
// setting and its query do, and the kind and limits of its parameter.
#include "scpi/command_rows.hpp"

#include "protocol/commands.hpp"
#include "scpi/setters.hpp"

namespace talmir880::scpi {
namespace {

using namespace setters;

constexpr Accepts kNothing{};
constexpr Accepts kBoolean{Takes::boolean};
constexpr Accepts frequency(double min, double max) { return {Takes::frequency, min, max}; }
constexpr Accepts count(double min, double max) { return {Takes::count, min, max}; }
constexpr Accepts kRfFrequency{Takes::frequency_or_step, kMinCwFrequencyHz, kMaxFrequencyHz};
constexpr Accepts kSweepFrequency = frequency(kMinFrequencyHz, kMaxFrequencyHz);
constexpr Accepts kLevel{Takes::level, protocol::kLevelsDbm.back(), protocol::kLevelsDbm.front()};
constexpr Accepts kMask = count(0, Status::kByteMask);
constexpr Accepts kRegisterMask = count(0, StatusRegister::kMask);

std::string flag(bool on) { return on ? "1" : "0"; }

// clang-format off
const Row kRows[] = {
    {"[SOURce]:FREQuency[:CW]", set_frequency,
     [](Call& c) { return whole(c.settings().frequency_hz); }, kRfFrequency},
    {"[SOURce]:FREQuency:FIXed", set_frequency,
     [](Call& c) { return whole(c.settings().frequency_hz); }, kRfFrequency},
    {"[SOURce]:FREQuency:STARt", set_start,
     [](Call& c) { return whole(c.settings().start_hz); }, kSweepFrequency},
    {"[SOURce]:FREQuency:STOP", set_stop,
     [](Call& c) { return whole(c.settings().stop_hz); }, kSweepFrequency},
    {"[SOURce]:FREQuency:CENTer", set_centre,
     [](Call& c) { return whole(centre(c.settings())); }, kSweepFrequency},
    {"[SOURce]:FREQuency:SPAN", set_span,
     [](Call& c) { return whole(span(c.settings())); },
     frequency(0, kMaxFrequencyHz - kMinFrequencyHz)},
    {"[SOURce]:FREQuency:STEP[:INCRement]", set_step,
     [](Call& c) { return whole(c.settings().step_hz); }, frequency(kMinStepHz, kMaxStepHz)},
    {"[SOURce]:FREQuency:MODE", set_mode,
     [](Call& c) { return std::string(c.settings().sweep_mode ? "SWE" : "CW"); },
     {Takes::mode}},
    {"[SOURce]:POWer[:LEVel][:IMMediate][:AMPLitude]", set_power,
     [](Call& c) { return whole(c.settings().power_dbm); }, kLevel},
    {"[SOURce]:LFOutput:FREQuency", set_lf_frequency,
     [](Call& c) { return whole(c.settings().lf_frequency_hz); },
     frequency(kMinLfFrequencyHz, kMaxLfFrequencyHz)},
    {"[SOURce]:SWEep:POINts", set_points,
     [](Call& c) { return whole(c.settings().points); },
     count(protocol::kMinSweepPoints, protocol::kMaxSweepPoints)},
    {"OUTPut[:STATe]", set_output,
     [](Call& c) { return flag(c.settings().output_on); }, kBoolean},
    {"OUTPut:MODulation[:STATe]", set_modulation,
     [](Call& c) { return flag(c.settings().modulation_on); }, kBoolean},
    {"INITiate[:IMMediate]", initiate, nullptr, kNothing},
    {"INITiate:CONTinuous", set_continuous,
     [](Call& c) { return flag(c.settings().continuous); }, kBoolean},
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

std::span<const Row> rows() { return kRows; }

}  // namespace talmir880::scpi
