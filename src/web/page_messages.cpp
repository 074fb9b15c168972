#include "web/page_messages.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "scpi/header_path.hpp"

namespace talmir880::web {
namespace {

std::string number(double value) {
  std::array<char, 32> text{};
  const auto [end, ec] = std::to_chars(text.begin(), text.end(), value);
  return ec == std::errc{} ? std::string(text.begin(), end) : "0";
}

// The page's commands that set no setting of the generator: a line each.
struct Command {
  std::string_view name;
  std::string_view line;
};
constexpr Command kCommands[] = {
    {"single", "FREQ:MODE SWE;:INIT"},
    {"continuous", "FREQ:MODE SWE;:INIT:CONT ON"},
    {"stop", "ABOR"},
    // The panel's STEP+ and STEP- send the stepped frequency as its keypad
    // does: the CW frequency.
    {"step_up", "FREQ UP;:FREQ:MODE CW"},
    {"step_down", "FREQ DOWN;:FREQ:MODE CW"},
    {"save", "*SAV 0"},
};

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

std::string json_string(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || u == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string state_message(const PageState& s) {
  int progress = 0;
  if (s.pass && s.pass->expected > 0) {
    progress = static_cast<int>(std::min<std::size_t>(100, s.pass->seen * 100 / s.pass->expected));
  }
  std::string out = "{\"type\":\"state\"";
  const auto field = [&out](std::string_view name, const std::string& value) {
    out.append(",\"").append(name).append("\":").append(value);
  };
  const auto flag = [](bool on) { return std::string(on ? "true" : "false"); };
  // The fields show the settings, as the queries answer them; "now" is the
  // device, which may not be confirmed.
  field("rf_mhz", number(s.settings.frequency_hz / 1e6));
  field("rf_on", flag(s.settings.output_on));
  field("mod_khz", number(s.settings.lf_frequency_hz / 1e3));
  field("mod_on", flag(s.settings.modulation_on));
  field("level", std::to_string(s.settings.power_dbm));
  field("rf_now", json_string(switched_text(s.held.rf)));
  field("rf_now_mhz", number(s.held.rf_hz / 1e6));
  field("mod_now", json_string(switched_text(s.held.modulation)));
  field("mod_now_khz", number(s.held.modulation_hz / 1e3));
  field("level_now", std::to_string(s.held.level_dbm));
  field("start_mhz", number(s.settings.start_hz / 1e6));
  field("stop_mhz", number(s.settings.stop_hz / 1e6));
  field("points", std::to_string(s.settings.points));
  field("sweeping", flag(s.pass.has_value()));
  field("repeating", flag(s.settings.continuous));
  field("progress", std::to_string(progress));
  field("port", json_string(port_text(s.port)));
  field("control", flag(s.control));
  field("password", flag(s.password_set));
  field("step_hz", std::to_string(std::llround(s.settings.step_hz)));
  field("sweep_mode", flag(s.settings.sweep_mode));
  return out + "}";
}

std::string errors_message(const std::vector<std::string>& errors) {
  std::string out = "{\"type\":\"errors\",\"errors\":[";
  for (std::size_t i = 0; i < errors.size(); ++i) {
    if (i > 0) out += ',';
    out += json_string(errors[i]);
  }
  return out + "]}";
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

std::string refused_message(Refusal refusal, std::string_view detail) {
  for (const RefusalRow& row : kRefusals) {
    if (row.refusal != refusal) continue;
    std::string text(row.text);
    std::string out = "{\"type\":\"refused\",\"reason\":" + json_string(row.key);
    if (!detail.empty()) {
      text.append(": ").append(detail);
      out += ",\"detail\":" + json_string(detail);
    }
    return out + ",\"text\":" + json_string(text) + "}";
  }
  return {};
}

std::string device_message(DeviceFault fault) {
  return "{\"type\":\"device\",\"fault\":" + json_string(cause(fault)) + "}";
}

std::optional<std::string> command_line(std::string_view message,
                                        std::span<const protocol::Setting> settings) {
  if (message.size() > kMaxAction) return std::nullopt;
  const std::size_t space = message.find(' ');
  const std::string_view name = message.substr(0, space);
  const std::string_view value =
      space == std::string_view::npos ? std::string_view() : message.substr(space + 1);
  for (const Command& c : kCommands) {
    if (c.name == name && space == std::string_view::npos) return std::string(c.line);
  }
  for (const protocol::Setting& s : settings) {
    if (s.page_action.empty() || s.page_action != name) continue;
    if (space == std::string_view::npos) return std::nullopt;
    std::string line = scpi::short_header(s.header) + ' ';
    if (s.kind == protocol::SettingKind::boolean) {
      if (value != "0" && value != "1") return std::nullopt;
      return line + (value == "1" ? "ON" : "OFF");
    }
    if (!plain_number(value)) return std::nullopt;
    line += value;
    if (!s.page_unit.empty()) line += ' ';
    for (const char c : s.page_unit) {
      line += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    // A frequency set on the page is the CW frequency, as the panel's keypad
    // makes it: in sweep mode it is kept, and CW then sends it.
    if (s.name == protocol::kRfFrequency.name) {
      const std::string_view cw = protocol::kSweepMode.choices;
      line += ";:" + scpi::short_header(protocol::kSweepMode.header) + ' ' +
              std::string(cw.substr(0, cw.find('|')));
    }
    return line;
  }
  return std::nullopt;
}

}  // namespace talmir880::web
