#pragma once

// Every text the pages show, in the panel's three languages, and the lists
// their controls offer. The page picks a language from the browser's
// (Accept-Language) or the visitor's choice, which the browser keeps; the
// server sends all three alike. Where the panel has the same thing the
// words are the panel's, so the two faces agree.

#include <array>
#include <span>
#include <string>
#include <string_view>

namespace talmir880::web {

// In the order of the panel's language list: Simplified Chinese,
// Traditional Chinese, English.
inline constexpr std::array<std::string_view, 3> kLanguageTags = {"zh-CN", "zh-TW", "en"};
// The list's items as the panel names them.
inline constexpr std::array<std::string_view, 3> kLanguageNames = {"简体中文", "繁体中文",
                                                                   "ENGLISH"};

struct PageText {
  std::string_view key;
  std::array<std::string_view, 3> text;  // by kLanguageTags; "{}" is filled in by the page
};

std::span<const PageText> page_texts();
// Nothing for a key no row has.
const PageText* page_text(std::string_view key);

// The tuning steps the page offers, largest first: the panel's, as far as
// the instrument's FREQ:STEP takes them (the device runs at whole 10 Hz).
struct Step {
  double hz;
  std::string caption;  // as the panel's step list shows it: "1GHz", "10Hz"
};
std::span<const Step> page_steps();

}  // namespace talmir880::web
