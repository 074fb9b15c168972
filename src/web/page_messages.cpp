#include "web/page_messages.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>

#include "generator/settings_record.hpp"
#include "scpi/header_path.hpp"

namespace talmir880::web {
namespace {

// The page's commands that set no setting of the generator: a line each,
// and the Python class's method for it.
struct Command {
  std::string_view name;
  std::string_view line;
  std::string_view method;                    // "" for none
  enum Mode { none, cw, sweep } mode = none;  // the sweep mode the line sets
  bool waits = true;
};
constexpr Command kCommands[] = {
    // sweep() sets the mode, starts the pass and waits for it.
    {"single", "FREQ:MODE SWE;:INIT", "sweep"},
    // Passes that repeat never end: nothing waits for them.
    {"continuous", "FREQ:MODE SWE;:INIT:CONT ON", "", Command::sweep, false},
    {"stop", "ABOR", "abort"},
    // The panel's STEP+ and STEP- send the stepped frequency as its keypad
    // does: the CW frequency.
    {"step_up", "FREQ UP;:FREQ:MODE CW", "frequency_up", Command::cw},
    {"step_down", "FREQ DOWN;:FREQ:MODE CW", "frequency_down", Command::cw},
    {"save", "*SAV 0", "save"},
};

std::string python_name(const protocol::Setting& s) {
  return std::string(s.python.empty() ? s.name : s.python);
}

std::string assignment(const protocol::Setting& s, std::string_view value) {
  return "gen." + python_name(s) + " = " + std::string(value);
}

// Digits, a point, a sign, an exponent: the instrument judges the rest
// (range, form) with its own errors, but no separator or header gets in.
bool plain_number(std::string_view text) {
  return !text.empty() && text.size() <= 24 && std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E';
  });
}

}  // namespace

const char* port_text(PortState port) {
  switch (port) {
    case PortState::open:
      return "open";
    case PortState::absent:
      return "absent";
    case PortState::gone:
      return "gone";
    case PortState::closed:
      break;
  }
  return "closed";
}

const char* switched_text(Switched output) {
  switch (output) {
    case Switched::on:
      return "on";
    case Switched::off:
      return "off";
    case Switched::unsure:
      break;
  }
  return "unsure";
}

const MessageValue* field(const Message& message, std::string_view key) {
  for (const MessageField& f : message) {
    if (f.key == key) return &f.value;
  }
  return nullptr;
}

std::string_view page_unit(const protocol::Setting& setting) {
  return setting.page_unit.empty() ? setting.unit : setting.page_unit;
}

double page_scale(const protocol::Setting& setting) {
  const std::string_view unit = page_unit(setting);
  if (unit.size() != setting.unit.size() + 1 || !unit.ends_with(setting.unit)) return 1;
  switch (unit.front()) {
    case 'k':
      return 1e3;
    case 'M':
      return 1e6;
    case 'G':
      return 1e9;
    default:
      return 1;
  }
}

namespace {

MessageValue page_value(const Settings& settings, const protocol::Setting& setting) {
  const double value = setting_value(settings, setting);
  if (setting.kind == protocol::SettingKind::boolean) return value != 0;
  const double scale = page_scale(setting);
  if (scale != 1 || !std::isfinite(value)) return value / scale;
  return static_cast<long long>(std::llround(value));
}

}  // namespace

Message state_message(const PageState& s, std::span<const protocol::Setting> settings) {
  long long progress = 0;
  if (s.pass && s.pass->expected > 0) {
    progress =
        static_cast<long long>(std::min<std::size_t>(100, s.pass->seen * 100 / s.pass->expected));
  }
  // The settings as the queries answer them; "now" is the device, which may
  // not be confirmed.
  Message out{{"type", std::string("state")}};
  for (const protocol::Setting& setting : settings) {
    if (setting.page_action.empty()) continue;
    out.push_back({std::string(setting.page_action), page_value(s.settings, setting)});
  }
  const Message rest = {
      {"rf_now", std::string(switched_text(s.held.rf))},
      {"rf_now_mhz", s.held.rf_hz / 1e6},
      {"mod_now", std::string(switched_text(s.held.modulation))},
      {"mod_now_khz", s.held.modulation_hz / 1e3},
      {"level_now", static_cast<long long>(s.held.value(protocol::kLevel))},
      {"sweeping", s.pass.has_value()},
      {"repeating", s.settings.continuous},
      {"progress", progress},
      {"port", std::string(port_text(s.port))},
      {"control", s.control},
      {"password", s.password_set},
      {"sweep_mode", s.settings.sweep_mode},
  };
  out.insert(out.end(), rest.begin(), rest.end());
  return out;
}

Message errors_message(const std::vector<std::string>& errors) {
  return {{"type", std::string("errors")}, {"errors", errors}};
}

namespace {

struct RefusalRow {
  Refusal refusal;
  std::string_view key;
  std::string_view text;
};
constexpr RefusalRow kRefusals[] = {
    {Refusal::not_an_action, "not_an_action", "not an action of this page"},
    {Refusal::read_only_log_in, "read_only_log_in",
     "read-only: log in with the password to change settings"},
    {Refusal::read_only_this_machine, "read_only_this_machine",
     "read-only: only this machine may change settings"},
    {Refusal::clients_full, "clients_full",
     "the instrument serves as many clients as it can; try again later"},
    {Refusal::backlog_full, "backlog_full", "too many actions waiting; try again"},
};

}  // namespace

Message refused_message(Refusal refusal, std::string_view detail) {
  for (const RefusalRow& row : kRefusals) {
    if (row.refusal != refusal) continue;
    std::string text(row.text);
    Message out{{"type", std::string("refused")}, {"reason", std::string(row.key)}};
    if (!detail.empty()) {
      text.append(": ").append(detail);
      out.push_back({"detail", std::string(detail)});
    }
    out.push_back({"text", std::move(text)});
    return out;
  }
  return {};
}

Message device_message(DeviceFault fault) {
  return {{"type", std::string("device")}, {"fault", std::string(cause(fault))}};
}

std::optional<PageAction> page_action(std::string_view message,
                                      std::span<const protocol::Setting> settings) {
  if (message.size() > kMaxAction) return std::nullopt;
  const std::size_t space = message.find(' ');
  const std::string_view name = message.substr(0, space);
  const std::string_view value =
      space == std::string_view::npos ? std::string_view() : message.substr(space + 1);
  for (const Command& c : kCommands) {
    if (c.name != name || space != std::string_view::npos) continue;
    PageAction action{std::string(c.line), c.waits, {}};
    if (c.mode == Command::sweep) {
      action.python = {assignment(protocol::kSweepMode, "True"),
                       assignment(protocol::kContinuous, "True")};
    }
    if (!c.method.empty()) action.python.push_back("gen." + std::string(c.method) + "()");
    if (c.mode == Command::cw) action.python.push_back(assignment(protocol::kSweepMode, "False"));
    return action;
  }
  for (const protocol::Setting& s : settings) {
    if (s.page_action.empty() || s.page_action != name) continue;
    if (space == std::string_view::npos) return std::nullopt;
    PageAction action{scpi::short_header(s.header) + ' ', true, {}};
    if (s.kind == protocol::SettingKind::boolean) {
      if (value != "0" && value != "1") return std::nullopt;
      action.line += value == "1" ? "ON" : "OFF";
      action.python.push_back(assignment(s, value == "1" ? "True" : "False"));
      return action;
    }
    if (!plain_number(value)) return std::nullopt;
    action.line += value;
    if (!s.page_unit.empty()) action.line += ' ';
    for (const char c : s.page_unit) {
      action.line += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    // The class takes the setting's own unit; a value that is no number
    // the instrument refuses, and no script does it again.
    // Read and written as C, whatever the program's locale.
    const std::string_view digits = value.starts_with('+') ? value.substr(1) : value;
    double number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error == std::errc() && end == digits.data() + digits.size() && std::isfinite(number)) {
      std::array<char, 32> written{};
      const auto [last, fault] =
          std::to_chars(written.data(), written.data() + written.size(), number * page_scale(s),
                        std::chars_format::general, 12);
      action.python.push_back(assignment(s, std::string_view(written.data(), last)));
    }
    // A frequency set on the page is the CW frequency, as the panel's keypad
    // makes it: in sweep mode it is kept, and CW then sends it.
    if (s.name == protocol::kRfFrequency.name) {
      const std::string_view cw = protocol::kSweepMode.choices;
      action.line += ";:" + scpi::short_header(protocol::kSweepMode.header) + ' ' +
                     std::string(cw.substr(0, cw.find('|')));
      if (!action.python.empty()) {
        action.python.push_back(assignment(protocol::kSweepMode, "False"));
      }
    }
    return action;
  }
  return std::nullopt;
}

Message ran_message(const PageAction& action, const std::vector<std::string>& errors) {
  return {{"type", std::string("ran")},
          {"line", action.line},
          {"waits", action.waits},
          {"python", action.python},
          {"errors", errors}};
}

}  // namespace talmir880::web
