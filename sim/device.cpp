#include "device.hpp"

#include <cctype>
#include <cstdio>

#include "protocol/commands.hpp"

namespace talmir880::sim {
namespace {

// A plain setting's command: its device prefix, "$" and one letter.
bool has_letter(const protocol::Setting& s) { return s.device.size() == 2 && s.device[0] == '$'; }

// The value whose command `text` is: a level whose encoding it is, or
// else its digits, taken when they are in range and encode back to it.
std::optional<double> plain_value(const protocol::Setting& s, std::string_view text) {
  if (s.kind == protocol::SettingKind::level) {
    for (const int level : s.levels) {
      if (s.encode(level) == text) return level;
    }
    return std::nullopt;
  }
  double digits = 0;
  for (const char c : text.substr(s.device.size())) digits = digits * 10 + (c - '0');
  if (digits < s.min || digits > s.max || s.encode(digits) != text) return std::nullopt;
  return digits;
}

std::string number(double x) {
  char text[32];
  std::snprintf(text, sizeof text, "%.12g", x);
  return text;
}

std::string upper(std::string_view name) {
  std::string out(name);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// A junk run longer than this is shown cut, with its full length.
constexpr std::size_t kJunkShown = 256;

Action log(std::string line) { return {Action::Kind::log, std::move(line), {}}; }

std::string hz_or_off(bool on, std::int64_t hz) { return on ? std::to_string(hz) : "off"; }

}  // namespace

Device::Device(std::span<const protocol::Setting> description)
    : layouts_{{'F', {protocol::kRfHzDigits - 1, 0, 0}, 1, -1},
               {'M', {protocol::kModulationDigits, 0, 0}, 1, -1},
               {'S',
                {static_cast<int>(protocol::save(protocol::SaveMode::sweep).size()) - 2, 0, 0},
                1,
                -1},
               {'W', protocol::kSweepFieldDigits, 3, 1}} {
  for (const protocol::Setting& s : description) {
    if (!protocol::is_plain(s) || !has_letter(s) || layout_for(s.device[1]) != nullptr) continue;
    // The encoder writes every value in the same width, which the start-up
    // value shows.
    const auto width = static_cast<int>(s.encode(s.start_up).size() - s.device.size());
    layouts_.push_back({s.device[1], {width, 0, 0}, 1, -1, static_cast<int>(plain_.size())});
    plain_.push_back(s);
    // Until it is set, the device holds what all zeros would set.
    settings_.plain[std::string(s.name)] =
        plain_value(s, std::string(s.device) + std::string(static_cast<std::size_t>(width), '0'))
            .value_or(0);
  }
}

const Device::Layout* Device::layout_for(char letter) const {
  for (const Layout& l : layouts_) {
    if (l.letter == letter) return &l;
  }
  return nullptr;
}

std::vector<Action> Device::feed(std::string_view bytes) {
  std::vector<Action> out;
  for (char c : bytes) take(c, out);
  return out;
}

std::vector<Action> Device::flush() {
  std::vector<Action> out;
  log_junk(out);
  return out;
}

void Device::take(char c, std::vector<Action>& out) {
  if (c == '$') {
    // A "$" always opens a command; one already under way was cut short.
    if (phase_ != Phase::outside) malformed(out);
    start_command(out);
    return;
  }
  switch (phase_) {
    case Phase::outside:
      if (junk_.size() < kJunkShown) junk_ += c;
      ++junk_len_;
      return;
    case Phase::letter:
      command_ += c;
      if (layout_for(c) == nullptr) {
        malformed(out);
        return;
      }
      phase_ = Phase::fields;
      return;
    case Phase::fields: {
      const Layout& layout = *layout_for(command_[1]);
      const auto field = static_cast<int>(values_.size()) - 1;
      command_ += c;
      if (c == '-' && field == layout.signed_field && digits_ == 0 && !negative_) {
        negative_ = true;
        return;
      }
      if (c < '0' || c > '9') {
        malformed(out);
        return;
      }
      values_.back() = values_.back() * 10 + (c - '0');
      if (++digits_ < layout.widths[static_cast<std::size_t>(field)]) return;
      if (negative_) values_.back() = -values_.back();
      if (field + 1 < layout.fields) {
        values_.push_back(0);
        digits_ = 0;
        negative_ = false;
        return;
      }
      execute(out);
      return;
    }
  }
}

void Device::start_command(std::vector<Action>& out) {
  log_junk(out);
  phase_ = Phase::letter;
  command_.assign(1, '$');  // not = "$": GCC 12 -Wrestrict false positive at -O3
  values_.assign(1, 0);
  digits_ = 0;
  negative_ = false;
}

void Device::malformed(std::vector<Action>& out) {
  ++commands_;
  out.push_back(log("MALFORMED \"" + escape(command_) + "\""));
  // What follows, up to the next "$", is junk.
  phase_ = Phase::outside;
}

void Device::set_plain(const protocol::Setting& setting, std::vector<Action>& out) {
  const std::optional<double> value = plain_value(setting, command_);
  if (!value) {
    malformed(out);
    return;
  }
  ++commands_;
  phase_ = Phase::outside;
  settings_.plain[std::string(setting.name)] = *value;
  std::string line = command_ + " " + upper(setting.name) + " " + number(*value);
  if (!setting.unit.empty()) line += " " + std::string(setting.unit);
  out.push_back(log(std::move(line)));
  out.push_back({Action::Kind::reply, std::string(kAck), {}});
}

void Device::execute(std::vector<Action>& out) {
  const std::int64_t v = values_[0];
  const char letter = command_[1];
  const int plain = layout_for(letter)->plain;
  if (plain >= 0) {
    set_plain(plain_[static_cast<std::size_t>(plain)], out);
    return;
  }
  if (letter == 'S' && v > 1) {
    malformed(out);
    return;
  }
  ++commands_;
  phase_ = Phase::outside;
  std::string line = command_ + " ";
  switch (letter) {
    case 'F':
      // 000000001 is the firmware's "RF off"; the last frequency is kept.
      settings_.rf_on = v != 1;
      if (settings_.rf_on) settings_.rf_hz = v * 10;
      line += settings_.rf_on ? "RF " + std::to_string(settings_.rf_hz) + " Hz" : "RF OFF";
      break;
    case 'M':
      settings_.mod_on = v != 0;
      if (settings_.mod_on) settings_.mod_hz = v;
      line += settings_.mod_on ? "MOD " + std::to_string(v) + " Hz" : "MOD OFF";
      break;
    case 'S':
      saved_ = SavedSettings{settings_, v == 1 ? SaveMode::sweep : SaveMode::single_point};
      line += std::string("SAVE mode=") + (v == 1 ? "sweep" : "single") +
              " rf=" + hz_or_off(settings_.rf_on, settings_.rf_hz) +
              " mod=" + hz_or_off(settings_.mod_on, settings_.mod_hz);
      for (const protocol::Setting& s : plain_) {
        line += " " + std::string(s.name) + "=" + number(settings_.plain.at(std::string(s.name)));
      }
      break;
    case 'W': {
      // A sweep answers with its points, not with an acknowledgement.
      const SweepRequest sweep{values_[0] * 10, values_[1] * 10, static_cast<int>(values_[2])};
      line += "SWEEP start=" + std::to_string(sweep.start_hz) +
              " step=" + std::to_string(sweep.step_hz) + " points=" + std::to_string(sweep.points);
      out.push_back(log(std::move(line)));
      out.push_back({Action::Kind::sweep, {}, sweep});
      return;
    }
  }
  out.push_back(log(std::move(line)));
  out.push_back({Action::Kind::reply, std::string(kAck), {}});
}

void Device::log_junk(std::vector<Action>& out) {
  if (junk_len_ == 0) return;
  std::string line = "JUNK \"" + escape(junk_) + "\"";
  if (junk_len_ > junk_.size()) line += " (" + std::to_string(junk_len_) + " bytes)";
  out.push_back(log(std::move(line)));
  junk_.clear();
  junk_len_ = 0;
}

std::string sweep_point_text(int index) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d", index % 10000);
  return text;
}

std::string escape(std::string_view bytes) {
  std::string out;
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c >= 0x20 && c < 0x7f) {
          out += ch;
        } else {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02X", c);
          out += hex;
        }
    }
  }
  return out;
}

}  // namespace talmir880::sim
