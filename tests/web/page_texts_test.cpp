// The page's texts: each in all three languages, every key the pages use
// in the table, the panel's own words where the panel has the same thing,
// and the tuning steps as the panel lists them.
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/settings.hpp"
#include "support/panel_fixture.hpp"
#include "tuning/tuning.hpp"
#include "web/page_messages.hpp"
#include "web/page_texts.hpp"

namespace talmir880::web {
namespace {

std::string read(const std::string& name) {
  std::ifstream in(std::string(TALMIR880_PAGE_DIR) + "/" + name);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

// A key's words: the table's row, or a setting's label in its description.
const std::array<std::string_view, 3>* words(std::string_view key) {
  if (const PageText* text = page_text(key)) return &text->text;
  for (const protocol::Setting& s : protocol::kSettings) {
    if (!s.page_control.empty() && s.name == key) return &s.page_label;
  }
  return nullptr;
}

TEST(PageTexts, EachInAllThreeLanguages) {
  std::set<std::string_view> keys;
  for (const PageText& t : page_texts()) {
    EXPECT_TRUE(keys.insert(t.key).second) << t.key << " twice";
    const bool filled = t.text[2].find("{}") != std::string_view::npos;
    for (std::size_t language = 0; language < 3; ++language) {
      EXPECT_FALSE(t.text[language].empty()) << t.key << " in " << kLanguageTags[language];
      EXPECT_EQ(t.text[language].find("{}") != std::string_view::npos, filled)
          << t.key << " in " << kLanguageTags[language] << ": the same places to fill";
    }
  }  // A setting's words are its description's alone.
  for (const protocol::Setting& s : protocol::kSettings) {
    if (s.page_control.empty()) continue;
    EXPECT_FALSE(keys.contains(s.name)) << s.name << " worded in the table and its description";
    for (std::size_t language = 0; language < 3; ++language) {
      EXPECT_FALSE(s.page_label[language].empty()) << s.name << " in " << kLanguageTags[language];
    }
  }
}

// Every text the pages ask for: data-text and data-label in the HTML the
// pages start from, T("...") in their scripts, and the keys the scripts
// make of the server's words (port states, faults, refusals, the settings'
// names whose controls they build).
TEST(PageTexts, EveryKeyThePagesUseIsInTheTable) {
  std::set<std::string> used;
  const std::regex attribute(R"re(data-(?:text|label)="([a-z_]+)")re");
  const std::regex call(R"re(\bT\("([a-z_]+)"\s*[,)])re");
  for (const char* file : {"index.html", "page.js", "list.js", "lang.js"}) {
    const std::string text = read(file);
    ASSERT_FALSE(text.empty()) << file;
    for (const std::regex& pattern : {attribute, call}) {
      for (auto m = std::sregex_iterator(text.begin(), text.end(), pattern);
           m != std::sregex_iterator(); ++m) {
        used.insert((*m)[1]);
      }
    }
  }
  for (const PortState port :
       {PortState::open, PortState::closed, PortState::absent, PortState::gone}) {
    used.insert(std::string("port_") + port_text(port));
  }
  for (int f = static_cast<int>(DeviceFault::no_acknowledge);
       f <= static_cast<int>(DeviceFault::link_lost); ++f) {
    std::string key = "fault_" + std::string(cause(static_cast<DeviceFault>(f)));
    std::replace(key.begin(), key.end(), ' ', '_');
    used.insert(key);
  }
  for (const protocol::Setting& s : protocol::kSettings) {
    if (!s.page_control.empty()) used.insert(std::string(s.name));
  }
  EXPECT_GT(used.size(), 60u);
  for (const std::string& key : used) EXPECT_NE(words(key), nullptr) << key;
}

TEST(PageTexts, RefusalsInEnglishAsTheServerWordsThem) {
  for (const Refusal r :
       {Refusal::not_an_action, Refusal::read_only_log_in, Refusal::read_only_this_machine,
        Refusal::clients_full, Refusal::backlog_full}) {
    const Message message = refused_message(r);
    ASSERT_NE(field(message, "reason"), nullptr);
    ASSERT_NE(field(message, "text"), nullptr);
    const std::string key = std::get<std::string>(*field(message, "reason"));
    const PageText* text = page_text(key);
    ASSERT_NE(text, nullptr) << key;
    EXPECT_EQ(std::get<std::string>(*field(message, "text")), text->text[2]) << key;
  }
}

TEST(PageTexts, StepsAreThePanelsAsTheInstrumentTakesThem) {
  std::vector<std::string> captions;
  for (const Step& step : page_steps()) {
    EXPECT_EQ(step.caption, Tuning::step_caption(step.hz)) << step.hz;
    captions.push_back(step.caption);
  }
  EXPECT_EQ(captions, (std::vector<std::string>{"1GHz", "100MHz", "10MHz", "1MHz", "100kHz",
                                                "10kHz", "1kHz", "100Hz", "10Hz"}));
}

// Where the panel has the same thing the page takes its words (a setting's
// from its description); English
// keeps the page's fuller names where the panel's are terse captions.
class PanelWords : public testing::PanelTest {};

TEST_F(PanelWords, ThePageSpeaksAsThePanel) {
  enum Languages { chinese, all };
  struct Case {
    std::string_view key;
    std::function<std::string(Form1&)> panel;
    Languages languages;
  };
  const auto caption = [](auto Form1::*control) {
    return [control](Form1& f) { return (f.*control).Caption(); };
  };
  const std::vector<Case> cases = {
      {"rf", caption(&Form1::Command16), all},
      {"modulation", caption(&Form1::Command17), chinese},
      {"level", caption(&Form1::Label1), chinese},
      {"language", caption(&Form1::Label_language), chinese},
      {"rf_output", caption(&Form1::Command21), chinese},
      {"modulation_output", caption(&Form1::Command22), chinese},
      {"tuning_step", caption(&Form1::Label2), chinese},
      {"step_up", caption(&Form1::Command18), chinese},
      {"step_down", caption(&Form1::Command19), chinese},
      {"save", caption(&Form1::Command24), chinese},
      {"save_mode", caption(&Form1::Label3), chinese},
      {"sweep_start", caption(&Form1::Label_star), chinese},
      {"sweep_stop", caption(&Form1::Label_end), chinese},
      {"sweep_points", caption(&Form1::Label_sample), chinese},
      {"sweep_progress", caption(&Form1::Label_progress), chinese},
      {"single", caption(&Form1::Command_signal), chinese},
      {"continuous", caption(&Form1::Command_cont), chinese},
      {"stop_sweep", caption(&Form1::Command_stop), chinese},
      {"mode_vfo", [](Form1& f) { return f.Combo4.List(0); }, all},
      {"mode_sweep", [](Form1& f) { return f.Combo4.List(1); }, chinese},
      {"port_open", [](Form1& f) { return f.port_open_text; }, chinese},
      {"port_closed", [](Form1& f) { return f.port_closed_text; }, chinese},
      {"save_hint", [](Form1& f) { return f.save_hint; }, chinese},
  };
  for (int language = 0; language < 3; ++language) {
    form.Combo3.pick(language);
    EXPECT_EQ(form.Combo3.List(language), kLanguageNames[static_cast<std::size_t>(language)]);
    for (const Case& c : cases) {
      if (language == 2 && c.languages == chinese) continue;
      const std::array<std::string_view, 3>* text = words(c.key);
      ASSERT_NE(text, nullptr) << c.key;
      EXPECT_EQ((*text)[static_cast<std::size_t>(language)], c.panel(form))
          << c.key << " in " << kLanguageTags[static_cast<std::size_t>(language)];
    }
  }
}

}  // namespace
}  // namespace talmir880::web
