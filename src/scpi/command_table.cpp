// Every command of the instrument, one row each: its header, what its
// setting and its query do, and the kind and limits of its parameter.
#include "scpi/command_table.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <span>
#include <string_view>

#include "protocol/commands.hpp"
#include "scpi/parameters.hpp"

#ifndef TALMIR880_VERSION
#error "the build passes the program's version as TALMIR880_VERSION"
#endif

namespace talmir880::scpi {

void add_answer(std::string& answers, const std::string& answer) {
  if (!answers.empty()) answers += ';';
  answers += answer;
}

void Call::device(std::string command, Generator::Change change) {
  device([command = std::move(command)](const Settings&) { return command; }, std::move(change));
}

void Call::device(Generator::Make make, Generator::Change change) {
  const bool overlapped = generator.pass_ahead();
  const Generator::Ticket ticket = generator.send(client, std::move(make), std::move(change));
  if (!overlapped) wait = ticket;
}

namespace {

// What a parameter is; a query's MINimum/MAXimum answers the limits.
enum class Takes { nothing, frequency, frequency_or_step, level, count, boolean, mode };

struct Accepts {
  Takes takes = Takes::nothing;
  double min = 0;
  double max = 0;
};

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

// ---- The signal --------------------------------------------------------

void set_frequency(Call& c) {
  const Settings& s = c.settings();
  double hz = c.value.number;
  if (c.value.step != 0) {
    hz = s.frequency_hz + c.value.step * s.step_hz;
    if (!(hz >= kMinCwFrequencyHz && hz <= kMaxFrequencyHz)) throw Refused{kDataOutOfRange};
  }
  // The device runs at whole 10 Hz: "$F" drops the 1-Hz digit.
  const double taken = std::floor(hz / protocol::kRfUnitHz) * protocol::kRfUnitHz;
  auto change = [taken](Settings& t) { t.frequency_hz = taken; };
  // Kept for later while the output is off or the mode is a sweep; that is
  // decided again in the command's turn, by what the device took by then.
  if (s.output_on && !s.sweep_mode) {
    c.device(
        [hz](const Settings& a) {
          return a.output_on && !a.sweep_mode ? protocol::rf_frequency(hz) : std::string();
        },
        change);
  } else {
    c.keep(change);
  }
}

void set_output(Call& c) {
  const bool on = c.value.number != 0;
  // Passes are RF on: the running one ends on its own, then the RF goes off.
  if (!on) c.generator.abort(c.client);
  c.device(
      [on](const Settings& a) {
        return on ? protocol::rf_frequency(a.frequency_hz) : std::string(protocol::kRfOff);
      },
      [on](Settings& t) { t.output_on = on; });
}

void set_power(Call& c) {
  const int level = static_cast<int>(c.value.number);
  // Always sent: the device cannot be asked for its level.
  c.device(protocol::rf_level(level), [level](Settings& t) { t.power_dbm = level; });
}

void set_lf_frequency(Call& c) {
  const double hz = c.value.number;
  auto change = [hz](Settings& t) { t.lf_frequency_hz = hz; };
  if (c.settings().modulation_on) {
    c.device(
        [hz](const Settings& a) {
          return a.modulation_on ? protocol::modulation_frequency(hz) : std::string();
        },
        change);
  } else {
    c.keep(change);
  }
}

void set_modulation(Call& c) {
  const bool on = c.value.number != 0;
  c.device(
      [on](const Settings& a) {
        return on ? protocol::modulation_frequency(a.lf_frequency_hz)
                  : std::string(protocol::kModulationOff);
      },
      [on](Settings& t) { t.modulation_on = on; });
}

// ---- The sweep ---------------------------------------------------------

void set_start(Call& c) {
  c.keep([hz = c.value.number](Settings& t) { t.start_hz = hz; });
}
void set_stop(Call& c) {
  c.keep([hz = c.value.number](Settings& t) { t.stop_hz = hz; });
}

// Centre and span move START and STOP; each keeps the other.
void set_start_and_stop(Call& c, double centre, double span) {
  const double start = std::round(centre - span / 2);
  const double stop = std::round(centre + span / 2);
  if (!(start >= kMinFrequencyHz && stop <= kMaxFrequencyHz)) throw Refused{kDataOutOfRange};
  c.keep([start, stop](Settings& t) {
    t.start_hz = start;
    t.stop_hz = stop;
  });
}
double centre(const Settings& s) { return (s.start_hz + s.stop_hz) / 2; }
double span(const Settings& s) { return s.stop_hz - s.start_hz; }
void set_centre(Call& c) { set_start_and_stop(c, c.value.number, span(c.settings())); }
void set_span(Call& c) { set_start_and_stop(c, centre(c.settings()), c.value.number); }

void set_step(Call& c) {
  c.keep([hz = c.value.number](Settings& t) { t.step_hz = hz; });
}
void set_points(Call& c) {
  c.keep([n = static_cast<int>(c.value.number)](Settings& t) { t.points = n; });
}

void set_mode(Call& c) {
  const bool sweep = c.value.number == 2;
  const bool was_sweep = c.settings().sweep_mode;
  c.keep([sweep](Settings& t) { t.sweep_mode = sweep; });
  if (sweep) {
    c.generator.repeat_if_continuous(c.client);
  } else if (was_sweep && c.settings().output_on) {
    // A pass left the device at its last point: back to the CW frequency.
    c.device([](const Settings& a) {
      return a.output_on ? protocol::rf_frequency(a.frequency_hz) : std::string();
    });
  }
}

void set_continuous(Call& c) {
  const bool on = c.value.number != 0;
  if (on) c.generator.refuse_pass_while_off();
  c.keep([on](Settings& t) { t.continuous = on; });
  c.generator.repeat_if_continuous(c.client);
}

void initiate(Call& c) { c.generator.initiate(c.client); }
void abort(Call& c) { c.generator.abort(c.client); }

// ---- IEEE 488.2 --------------------------------------------------------

void reset(Call& c) {
  c.generator.abort(c.client);
  // The output, the modulation and the level become what the device
  // acknowledges of the three commands below; the rest is start-up again.
  c.keep([](Settings& t) {
    Settings fresh;
    fresh.output_on = t.output_on;
    fresh.modulation_on = t.modulation_on;
    fresh.power_dbm = t.power_dbm;
    t = fresh;
  });
  c.device(std::string(protocol::kRfOff), [](Settings& t) { t.output_on = false; });
  c.device(std::string(protocol::kModulationOff), [](Settings& t) { t.modulation_on = false; });
  c.device(protocol::rf_level(protocol::kStartUp.level_dbm),
           [](Settings& t) { t.power_dbm = protocol::kStartUp.level_dbm; });
}

void save(Call& c) {
  // One memory: the device's flash, with the mode it starts in.
  c.device([](const Settings& a) {
    return protocol::save(a.sweep_mode ? protocol::SaveMode::sweep
                                       : protocol::SaveMode::single_point);
  });
}

void operation_complete(Call& c) {
  // By id: the client may have gone by the time everything is done.
  StatusBoard& statuses = c.generator.statuses();
  c.generator.when_done(c.generator.last(),
                        [&statuses, client = c.client, cleared = c.status().clears()] {
                          Status* status = statuses.find(client);
                          if (status != nullptr && status->clears() == cleared) {
                            status->operation_complete();
                          }
                        });
}

std::string ask_operation_complete(Call& c) {
  c.wait_for_all();
  return "1";
}

void wait(Call& c) { c.wait_for_all(); }

std::string ask_self_test(Call& c) { return c.generator.reachable(c.client) ? "0" : "1"; }

// ---- The rows ----------------------------------------------------------

}  // namespace

using Set = void (*)(Call&);
using Ask = std::string (*)(Call&);

struct Row {
  std::string_view header;
  Set set;
  Ask ask;
  Accepts parameter;
};

namespace {

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
    {"ABORt", abort, nullptr, kNothing},

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
    {"*IDN", nullptr,
     [](Call&) { return std::string("TALMIR,TALMIR-880,0,") + TALMIR880_VERSION; }, kNothing},
    {"*OPC", operation_complete, ask_operation_complete, kNothing},
    {"*OPT", nullptr, [](Call&) { return std::string("0"); }, kNothing},
    {"*RST", reset, nullptr, kNothing},
    {"*SAV", save, nullptr, count(0, 0)},
    {"*SRE", [](Call& c) { c.status().set_service_enable(static_cast<int>(c.value.number)); },
     [](Call& c) { return whole(c.status().service_enable()); }, kMask},
    {"*STB", nullptr,
     [](Call& c) { return whole(c.status().status_byte(!c.answers.empty())); }, kNothing},
    {"*TST", nullptr, ask_self_test, kNothing},
    {"*WAI", wait, nullptr, kNothing},
};
// clang-format on

// ---- Finding a row -----------------------------------------------------

struct PatternNode {
  std::string_view name;
  bool optional;
};

// "[SOURce]:FREQuency[:CW]" as its nodes.
std::vector<PatternNode> nodes_of(std::string_view header) {
  std::vector<PatternNode> out;
  std::size_t at = 0;
  while (at < header.size()) {
    const bool optional = header[at] == '[';
    if (optional) ++at;
    if (header[at] == ':') ++at;
    const std::size_t end = header.find_first_of(optional ? "]" : ":[", at);
    out.push_back({header.substr(at, end - at), optional});
    at = end == std::string_view::npos ? header.size() : end + (optional ? 1 : 0);
  }
  return out;
}

struct Compiled {
  const Row* row;
  std::vector<PatternNode> nodes;
};

const std::vector<Compiled>& compiled() {
  static const std::vector<Compiled> table = [] {
    std::vector<Compiled> out;
    for (const Row& row : kRows) {
      if (!row.header.starts_with('*')) out.push_back({&row, nodes_of(row.header)});
    }
    return out;
  }();
  return table;
}

// Written mnemonics before left-out optional nodes; `last` is the index of
// the node the last written mnemonic matched.
bool match(std::span<const PatternNode> pattern, std::size_t p, std::span<const std::string> tokens,
           std::size_t t, std::size_t& last) {
  if (p == pattern.size()) return t == tokens.size();
  if (t < tokens.size() && matches(pattern[p].name, tokens[t])) {
    const std::size_t saved = last;
    last = p;
    if (match(pattern, p + 1, tokens, t + 1, last)) return true;
    last = saved;
  }
  return pattern[p].optional && match(pattern, p + 1, tokens, t, last);
}

std::string short_form(std::string_view name) {
  std::string out;
  for (char ch : name) {
    if (ch >= 'a' && ch <= 'z') break;
    out += ch;
  }
  return out;
}

// ---- Reading a parameter ----------------------------------------------

Value read_setting(const Accepts& kind, const ProgramUnit& unit) {
  Value v;
  if (kind.takes == Takes::nothing) {
    expect_parameters(unit, 0);
    return v;
  }
  expect_parameters(unit, 1);
  const Parameter& p = unit.parameters.front();
  switch (kind.takes) {
    case Takes::nothing:
      break;
    case Takes::frequency_or_step:
      if (p.kind == Parameter::Kind::word && (matches("UP", p.word) || matches("DOWN", p.word))) {
        v.step = matches("UP", p.word) ? 1 : -1;
        return v;
      }
      [[fallthrough]];
    case Takes::frequency: {
      const double hz = std::round(number(p, Quantity::frequency, kind.min, kind.max));
      if (!(hz >= kind.min && hz <= kind.max)) throw Refused{kDataOutOfRange};
      v.number = hz;
      break;
    }
    case Takes::level: {
      const double dbm = number(p, Quantity::level, kind.min, kind.max);
      const auto& levels = protocol::kLevelsDbm;
      if (std::find(levels.begin(), levels.end(), dbm) == levels.end()) {
        throw Refused{kIllegalParameterValue};
      }
      v.number = dbm;
      break;
    }
    case Takes::count: {
      const double n = std::round(number(p, Quantity::count, kind.min, kind.max));
      if (!(n >= kind.min && n <= kind.max)) throw Refused{kDataOutOfRange};
      v.number = n;
      break;
    }
    case Takes::boolean:
      v.number = boolean(p) ? 1 : 0;
      break;
    case Takes::mode:
      v.number = static_cast<double>(choice(p, {"CW", "FIXed", "SWEep"}));
      break;
  }
  return v;
}

bool has_limits(const Accepts& kind) {
  return kind.takes == Takes::frequency || kind.takes == Takes::frequency_or_step ||
         kind.takes == Takes::level || kind.takes == Takes::count;
}

}  // namespace

const Row& HeaderPath::find(const ProgramUnit& unit) {
  const Row* found = nullptr;
  if (unit.common) {
    for (const Row& row : kRows) {
      if (row.header.starts_with('*') && row.header.substr(1) == unit.nodes.front() &&
          (unit.query ? row.ask != nullptr : row.set != nullptr)) {
        found = &row;
        break;
      }
    }
  } else {
    std::vector<std::string> tokens = unit.rooted ? std::vector<std::string>{} : at_;
    tokens.insert(tokens.end(), unit.nodes.begin(), unit.nodes.end());
    for (const Compiled& c : compiled()) {
      std::size_t last = 0;
      if ((unit.query ? c.row->ask == nullptr : c.row->set == nullptr) ||
          !match(c.nodes, 0, tokens, 0, last)) {
        continue;
      }
      found = c.row;
      at_.clear();
      for (std::size_t i = 0; i < last; ++i) at_.push_back(short_form(c.nodes[i].name));
      break;
    }
  }
  if (found == nullptr) throw Refused{kUndefinedHeader};
  return *found;
}

namespace {

std::string_view name_of(Takes takes) {
  switch (takes) {
    case Takes::nothing:
      return "nothing";
    case Takes::frequency:
      return "frequency";
    case Takes::frequency_or_step:
      return "frequency_or_step";
    case Takes::level:
      return "level";
    case Takes::count:
      return "count";
    case Takes::boolean:
      return "boolean";
    case Takes::mode:
      return "mode";
  }
  return "?";
}

}  // namespace

std::vector<RowSummary> row_summaries() {
  std::vector<RowSummary> out;
  for (const Row& row : kRows) {
    out.push_back({row.header, row.set != nullptr, row.ask != nullptr, name_of(row.parameter.takes),
                   row.parameter.min, row.parameter.max});
  }
  return out;
}

std::string_view HeaderPath::resolve(const ProgramUnit& unit) { return find(unit).header; }

void HeaderPath::run(const ProgramUnit& unit, Call& call) {
  const Row* found = &find(unit);
  if (!unit.query) {
    call.value = read_setting(found->parameter, unit);
    found->set(call);
    return;
  }
  if (!unit.parameters.empty() && has_limits(found->parameter)) {
    const Accepts& kind = found->parameter;
    add_answer(call.answers, whole(*asked_limit(unit, kind.min, kind.max)));
    return;
  }
  expect_parameters(unit, 0);
  add_answer(call.answers, found->ask(call));
}

}  // namespace talmir880::scpi
