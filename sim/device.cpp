#include "device.hpp"

#include <array>
#include <cstdio>

namespace talmir880::sim {
namespace {

struct Layout {
  char letter;
  std::array<int, 3> widths;
  int fields;
  int signed_field;  // the field that may open with "-", or -1
};

constexpr std::array<Layout, 5> kLayouts{{
    {'F', {9, 0, 0}, 1, -1},
    {'M', {7, 0, 0}, 1, -1},
    {'P', {1, 0, 0}, 1, -1},
    {'S', {1, 0, 0}, 1, -1},
    {'W', {9, 8, 4}, 3, 1},
}};

const Layout* layout_for(char letter) {
  for (const Layout& l : kLayouts) {
    if (l.letter == letter) return &l;
  }
  return nullptr;
}

// A junk run longer than this is shown cut, with its full length.
constexpr std::size_t kJunkShown = 256;

Action log(std::string line) { return {Action::Kind::log, std::move(line), {}}; }

std::string hz_or_off(bool on, std::int64_t hz) { return on ? std::to_string(hz) : "off"; }

}  // namespace

int level_dbm(int level_code) { return -12 + 3 * level_code; }

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

void Device::execute(std::vector<Action>& out) {
  const std::int64_t v = values_[0];
  const char letter = command_[1];
  if ((letter == 'P' && v > 3) || (letter == 'S' && v > 1)) {
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
    case 'P':
      settings_.level_code = static_cast<int>(v);
      line += "LEVEL " + std::to_string(level_dbm(settings_.level_code)) + " dBm";
      break;
    case 'S':
      saved_ = SavedSettings{settings_, v == 1 ? SaveMode::sweep : SaveMode::single_point};
      line += std::string("SAVE mode=") + (v == 1 ? "sweep" : "single") +
              " rf=" + hz_or_off(settings_.rf_on, settings_.rf_hz) +
              " mod=" + hz_or_off(settings_.mod_on, settings_.mod_hz) +
              " level=" + std::to_string(level_dbm(settings_.level_code));
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
