#include "control/attributes.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "scpi/header_path.hpp"

namespace talmir880::control {

namespace {

using protocol::Setting;
using protocol::SettingKind;

AttributeType type_of(SettingKind kind) {
  switch (kind) {
    case SettingKind::frequency:
      return AttributeType::real;
    case SettingKind::count:
    case SettingKind::level:
      return AttributeType::whole;
    case SettingKind::boolean:
      return AttributeType::flag;
    case SettingKind::mode:
      break;
  }
  return AttributeType::choice;
}

// The page's English words where the page shows it; its name otherwise.
std::string label_of(const Setting& s) {
  std::string label(s.page_label[2].empty() ? s.name : s.page_label[2]);
  std::replace(label.begin(), label.end(), '_', ' ');
  if (!label.empty()) label[0] = static_cast<char>(std::toupper(label[0]));
  return label;
}

std::vector<std::string> words_of(std::string_view choices) {
  std::vector<std::string> words;
  while (!choices.empty()) {
    const std::size_t bar = std::min(choices.find('|'), choices.size());
    std::string word(choices.substr(0, bar));
    for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    words.push_back(word);
    choices.remove_prefix(std::min(bar + 1, choices.size()));
  }
  return words;
}

// A choice as SCPI writes it shortest: its capitals ("SWEep": "SWE").
std::string short_choice(std::string_view choices, std::size_t place) {
  std::size_t at = 0;
  for (std::size_t i = 0; i < place; ++i) at = choices.find('|', at) + 1;
  std::string word;
  for (const char c : choices.substr(at, choices.find('|', at) - at)) {
    if (std::isupper(static_cast<unsigned char>(c)) != 0) word += c;
  }
  return word;
}

Attribute attribute_of(const Setting& s) {
  Attribute a;
  a.name = s.control.empty() ? lower_camel(s.name) : std::string(s.control);
  a.setting = &s;
  a.type = type_of(s.kind);
  a.memorized = a.type == AttributeType::real || a.type == AttributeType::whole;
  a.label = label_of(s);
  a.unit = s.unit;
  a.format = a.type == AttributeType::real ? "%.0f" : "%d";
  if (a.type == AttributeType::real || a.type == AttributeType::whole) {
    a.min = s.min;
    a.max = s.max;
  }
  if (a.type == AttributeType::choice) a.choices = words_of(s.choices);
  return a;
}

}  // namespace

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", value);
  return text;
}

std::string lower_camel(std::string_view snake) {
  std::string camel;
  bool upper = false;
  for (const char c : snake) {
    if (c == '_') {
      upper = !camel.empty();
      continue;
    }
    camel += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
    upper = false;
  }
  return camel;
}

std::vector<Attribute> attributes_of(std::span<const Setting> settings) {
  std::vector<Attribute> attributes;
  for (const Setting& s : settings) attributes.push_back(attribute_of(s));
  Attribute progress;
  progress.name = "sweepProgress";
  progress.writable = false;
  progress.label = "Sweep progress";
  progress.unit = "%";
  progress.format = "%.1f";
  progress.min = 0;
  progress.max = 100;
  attributes.push_back(progress);
  return attributes;
}

std::optional<std::string> write_line(const Attribute& a, double value, std::string& why) {
  if (a.setting == nullptr || !a.writable) {
    why = a.name + " is read only";
    return std::nullopt;
  }
  const Setting& s = *a.setting;
  std::string text;
  switch (a.type) {
    case AttributeType::flag:
      if (value != 0 && value != 1) {
        why = a.name + " takes 0 (off) or 1 (on)";
        return std::nullopt;
      }
      text = value != 0 ? "1" : "0";
      break;
    case AttributeType::choice:
      if (value < 0 || value >= static_cast<double>(a.choices.size()) ||
          value != std::floor(value)) {
        why = a.name + " takes a choice from 0 to " + number(a.choices.size() - 1.0);
        return std::nullopt;
      }
      text = short_choice(s.choices, static_cast<std::size_t>(value));
      break;
    case AttributeType::real:
    case AttributeType::whole: {
      const std::string unit = s.unit.empty() ? "" : " " + std::string(s.unit);
      if (!s.levels.empty() &&
          std::find(s.levels.begin(), s.levels.end(), value) == s.levels.end()) {
        why = a.name + " takes only the device's levels:";
        for (std::size_t i = 0; i < s.levels.size(); ++i) {
          why += (i == 0 ? " " : ", ") + number(s.levels[i]);
        }
        why += unit;
        return std::nullopt;
      }
      const bool whole = a.type == AttributeType::whole && value != std::floor(value);
      if (!std::isfinite(value) || value < s.min || value > s.max || whole) {
        why = a.name + " takes " + (a.type == AttributeType::whole ? "whole numbers " : "") +
              number(s.min) + " to " + number(s.max) + unit;
        return std::nullopt;
      }
      text = number(value);
      break;
    }
  }
  return scpi::short_header(s.header) + " " + text;
}

}  // namespace talmir880::control
