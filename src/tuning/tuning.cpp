#include "tuning/tuning.hpp"

#include <array>
#include <cmath>

#include "common/numbers.hpp"
#include "common/text.hpp"
#include "protocol/commands.hpp"

namespace talmir880 {

// What differs between the RF and the modulation side.
struct TuningKind {
  bool rf;
  std::string_view keyword;   // "RF" or "MOD"
  double without_unit;        // value of an entry that names no unit
  int digits;                 // zero_padded width of the display
  std::string_view off_text;  // label and entry when the value is 0
  std::string (*command)(double hz);
  std::string_view shown_unit;  // unit of the display text
  double shown_factor;
  double highest;              // limit of STEP+
  std::string_view off_entry;  // what the on/off switch enters to switch off
};

namespace {

constexpr TuningKind kRf = {.rf = true,
                            .keyword = "RF",
                            .without_unit = 1e9,
                            .digits = protocol::kRfHzDigits,
                            .off_text = "RF OFF",
                            .command = protocol::rf_frequency,
                            .shown_unit = "MHz",
                            .shown_factor = 1e6,
                            .highest = protocol::kStepUpLimitRfHz,
                            .off_entry = "RF0GHz"};
constexpr TuningKind kMod = {.rf = false,
                             .keyword = "MOD",
                             .without_unit = 0.0,
                             .digits = protocol::kModulationDigits,
                             .off_text = "MOD OFF",
                             .command = protocol::modulation_frequency,
                             .shown_unit = "kHz",
                             .shown_factor = 1e3,
                             .highest = protocol::kStepUpLimitModulationHz,
                             .off_entry = "MOD0MHz"};

struct Unit {
  std::string_view text;
  double factor;
};
// Looked for in this order; the first one contained wins.
constexpr std::array<Unit, 4> kUnits = {{{"GHz", 1e9}, {"MHz", 1e6}, {"kHz", 1e3}, {"Hz", 1.0}}};

constexpr Phrase kOutOfRange = {"频率超出范围！", "頻率超出範圍！", "Frequency out of range!"};

// An entry with both keywords is an RF entry.
const TuningKind* kind_of(const std::string& entry) {
  if (contains(entry, "RF")) return &kRf;
  if (contains(entry, "MOD")) return &kMod;
  return nullptr;
}

// Taken by position from the zero-filled digits, so values wider than the
// field still give a display of the usual shape.
std::string display_text(const TuningKind& kind, const std::string& digits,
                         std::string_view before_unit = " ") {
  auto at = [&](std::size_t from, std::size_t count) { return digits.substr(from - 1, count); };
  std::string text = std::string(kind.keyword) + " " + at(1, 1) + " " + at(2, 3) + "." + at(5, 3);
  if (kind.rf) text += " " + at(8, 3);
  return text + std::string(before_unit) + std::string(kind.shown_unit);
}

}  // namespace

Tuning::Tuning(TextBox& Text_send, Label& Label_RF, Label& Label_MOD, const ComboBox& Combo2,
               Link& link, const Notices& notices)
    : Text_send_(Text_send),
      Label_RF_(Label_RF),
      Label_MOD_(Label_MOD),
      Combo2_(Combo2),
      link_(link),
      notices_(notices) {}

Label& Tuning::label_of(const TuningKind& kind) const { return kind.rf ? Label_RF_ : Label_MOD_; }

void Tuning::append(std::string_view key) {
  Text_send_.set_Text(Text_send_.Text() + std::string(key));
}

void Tuning::append_unit(std::string_view unit) {
  append(unit);
  Send_entry();
}

void Tuning::Send_entry() {
  link_.empty_received();
  std::string entry = Text_send_.Text();
  // The RF or MOD key followed straight by a unit key sends the shown value again.
  for (std::string_view resend : {"RF H", "RF k", "RF G", "RF M"}) {
    if (contains(entry, resend)) {
      entry = Label_RF_.Caption();
      break;
    }
  }
  for (std::string_view resend : {"MOD H", "MOD k", "MOD G", "MOD M"}) {
    if (contains(entry, resend)) {
      entry = Label_MOD_.Caption();
      break;
    }
  }
  const TuningKind* kind = kind_of(entry);
  if (kind == nullptr) {
    Text_send_.set_Text(entry);
  } else if (!send_value(*kind, entry)) {
    return;  // refused and told; no watchdog message on top
  }
  link_.arm_watchdog();
}

bool Tuning::send_value(const TuningKind& kind, const std::string& entry) {
  std::string rest = remove_all(remove_all(entry, " "), kind.keyword);
  double value = kind.without_unit;
  for (const Unit& unit : kUnits) {
    if (contains(rest, unit.text)) {
      value = leading_number(remove_all(rest, unit.text)) * unit.factor;
      break;
    }
  }
  // The device has no negative frequency and no field for a value beyond a
  // double: refuse rather than send a malformed command.
  if (!std::isfinite(value) || value < 0) {
    notices_.tell(kOutOfRange);
    return false;
  }

  show(kind, value);
  return !link_.port_open() || link_.write(kind.command(value));
}

void Tuning::show(const TuningKind& kind, double value) {
  const std::string digits = protocol::zero_padded(value, kind.digits);
  Text_send_.set_Text(value == 0 ? std::string(kind.off_text) : display_text(kind, digits));
  label_of(kind).set_Caption(Text_send_.Text());
}

void Tuning::show_off(const TuningKind& kind, std::string& saved) {
  if (contains(label_of(kind).Caption(), "Hz")) saved = label_of(kind).Caption();
  show(kind, 0);
}

std::string Tuning::designed_rf_caption(double hz) {
  return display_text(kRf, protocol::zero_padded(hz, kRf.digits), "");
}

std::string Tuning::designed_modulation_caption(double hz) {
  return display_text(kMod, protocol::zero_padded(hz, kMod.digits), "");
}

std::string Tuning::step_caption(double hz) {
  for (const Unit& unit : kUnits) {
    if (hz >= unit.factor)
      return protocol::zero_padded(hz / unit.factor, 1) + std::string(unit.text);
  }
  return protocol::zero_padded(hz, 1) + "Hz";
}

const TuningKind& Tuning::rf_kind() { return kRf; }
const TuningKind& Tuning::modulation_kind() { return kMod; }

void Tuning::Combo2_Click() {
  int index = Combo2_.ListIndex();
  if (index >= 0 && index < static_cast<int>(protocol::kTuningStepsHz.size())) {
    vfo_step = protocol::kTuningStepsHz[static_cast<std::size_t>(index)];
  }
}

void Tuning::step(int direction) {
  const TuningKind* kind = kind_of(Text_send_.Text());
  if (kind == nullptr) return;
  std::string shown = remove_all(label_of(*kind).Caption(), kind->keyword);
  shown = remove_all(remove_all(shown, kind->shown_unit), " ");
  double f = leading_number(shown) * kind->shown_factor + direction * vfo_step;
  // A step past a limit is not made: the frequency is sent again unchanged.
  if (direction > 0 && f > kind->highest) f -= vfo_step;
  if (direction < 0 && f < 0) f += vfo_step;
  Text_send_.set_Text(std::string(kind->keyword) + number_text(f) + "Hz");
  Send_entry();
}

void Tuning::toggle(const TuningKind& kind, std::string& saved) {
  const Label& label = label_of(kind);
  if (contains(label.Caption(), "Hz")) {
    saved = label.Caption();
    Text_send_.set_Text(std::string(kind.off_entry));
  } else {
    Text_send_.set_Text(saved);
  }
  Send_entry();
}

void Tuning::Command21_Click() { toggle(kRf, rf_saved); }
void Tuning::Command22_Click() { toggle(kMod, mod_saved); }

}  // namespace talmir880
