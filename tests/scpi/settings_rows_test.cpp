// The command rows against the settings' description: each setting has its
// rows, taking what it says and answering its start-up value at first, and
// no row sets the device unless described.
#include <gtest/gtest.h>

#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "generator/settings_record.hpp"
#include "generator/status.hpp"
#include "protocol/settings.hpp"
#include "scpi/command_rows.hpp"
#include "scpi/instrument_fixture.hpp"
#include "support/test_only_setting.hpp"

namespace talmir880::testing {
namespace {

using protocol::Setting;
using protocol::SettingKind;

const scpi::Row* row_of(std::span<const scpi::Row> rows, std::string_view header) {
  const auto found = std::find_if(rows.begin(), rows.end(),
                                  [&](const scpi::Row& r) { return r.header == header; });
  return found == rows.end() ? nullptr : &*found;
}

scpi::Takes takes_of(const Setting& s) {
  switch (s.kind) {
    case SettingKind::frequency:
      return s.steps ? scpi::Takes::frequency_or_step : scpi::Takes::frequency;
    case SettingKind::count:
      return scpi::Takes::count;
    case SettingKind::level:
      return scpi::Takes::level;
    case SettingKind::boolean:
      return scpi::Takes::boolean;
    case SettingKind::mode:
      break;
  }
  return scpi::Takes::mode;
}

bool takes_value(const scpi::Row& row, const std::string& value) {
  try {
    scpi::read_setting(row.parameter, scpi::parse_unit("X " + value));
    return true;
  } catch (const Refused&) {
    return false;
  }
}

std::vector<std::string> row_problems(std::span<const scpi::Row> rows, const Setting& s,
                                      std::string_view header) {
  const std::string name(s.name);
  const scpi::Row* row = row_of(rows, header);
  if (row == nullptr) return {name + ": no row " + std::string(header)};
  std::vector<std::string> out;
  if (row->set == nullptr || row->ask == nullptr) out.push_back(name + ": no setting or query");
  const scpi::Accepts& a = row->parameter;
  if (a.takes != takes_of(s)) out.push_back(name + ": the row takes another kind");
  if (scpi::has_limits(a) && (a.min != s.min || a.max != s.max)) {
    out.push_back(name + ": the row's limits differ");
  }
  for (const int level : s.levels) {
    if (!takes_value(*row, std::to_string(level))) {
      out.push_back(name + ": the row refuses " + std::to_string(level));
    }
  }
  for (std::string_view rest = s.choices; !rest.empty();) {
    const std::string_view word = rest.substr(0, rest.find('|'));
    if (!takes_value(*row, std::string(word))) {
      out.push_back(name + ": the row refuses " + std::string(word));
    }
    rest.remove_prefix(std::min(rest.size(), word.size() + 1));
  }
  return out;
}

// A row that sets something of the generator rather than of the
// instrument's status or the line.
bool sets_the_generator(const scpi::Row& row) {
  const std::string_view h = row.header;
  return row.set != nullptr && row.parameter.takes != scpi::Takes::nothing && !h.starts_with("*") &&
         !h.starts_with("STATus") && !h.starts_with("SYSTem");
}

std::vector<std::string> problems(std::span<const Setting> settings,
                                  std::span<const scpi::Row> rows = scpi::rows()) {
  std::vector<std::string> out;
  for (const Setting& s : settings) {
    for (const std::string_view header : {s.header, s.also}) {
      if (header.empty()) continue;
      for (std::string& p : row_problems(rows, s, header)) out.push_back(std::move(p));
    }
  }
  for (const scpi::Row& row : rows) {
    if (!sets_the_generator(row)) continue;
    if (std::none_of(settings.begin(), settings.end(), [&](const Setting& s) {
          return s.header == row.header || s.also == row.header;
        })) {
      out.push_back("row " + std::string(row.header) + " is no described setting");
    }
  }
  return out;
}

TEST(SettingsRows, EverySettingHasItsRowsAndEverySettingRowIsDescribed) {
  EXPECT_EQ(problems(protocol::kSettings), std::vector<std::string>{});
}

TEST(SettingsRows, ASettingWithoutARowIsReported) {
  std::vector<Setting> settings(protocol::kSettings.begin(), protocol::kSettings.end());
  settings.push_back({.name = "attenuation",
                      .header = "[SOURce]:POWer:ATTenuation",
                      .kind = SettingKind::count,
                      .max = 30,
                      .unit = "dB"});
  EXPECT_EQ(problems(settings),
            std::vector<std::string>{"attenuation: no row [SOURce]:POWer:ATTenuation"});
}

// A setting the device takes in a command of its own needs nothing but its
// description: its rows are made from it, as the check above demands them.
TEST(SettingsRows, APlainSettingsRowsAreMadeFromItsDescription) {
  std::vector<Setting> settings(protocol::kSettings.begin(), protocol::kSettings.end());
  settings.push_back(kTestOnlyOffset);
  // The table as it would be with that setting described.
  std::vector<scpi::Row> rows(scpi::rows().begin(), scpi::rows().end());
  for (const scpi::Row& row : scpi::plain_rows(settings)) {
    if (row_of(scpi::rows(), row.header) == nullptr) rows.push_back(row);
  }
  EXPECT_EQ(problems(settings, rows), std::vector<std::string>{});
  const scpi::Row* made = row_of(rows, kTestOnlyOffset.header);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->slot, protocol::kSettings.size());  // its place in that description
  EXPECT_EQ(made->setting->encode(12'000), "$O0012000");
}

// A row's query as a script writes it: the header without its optional
// nodes.
std::string query_of(std::string_view header) {
  std::string out;
  for (std::size_t i = 0; i < header.size(); ++i) {
    if (header[i] == '[') {
      i = header.find(']', i);
    } else {
      out += header[i];
    }
  }
  return (out.starts_with(":") ? out.substr(1) : out) + "?";
}

// What the query answers for a setting's start-up value: a number, or the
// short form of the mode's word.
std::string start_up_answer(const Setting& s) {
  if (s.kind != SettingKind::mode) return scpi::whole(s.start_up);
  std::string_view words = s.choices;
  for (int i = 0; i < static_cast<int>(s.start_up); ++i) words.remove_prefix(words.find('|') + 1);
  std::string out;
  for (const char c : words.substr(0, words.find('|'))) {
    if (c < 'a' || c > 'z') out += c;
  }
  return out;
}

using SettingsAtStartUp = InstrumentTest;

TEST_F(SettingsAtStartUp, EachQueryAnswersTheDescribedValue) {
  for (const Setting& s : protocol::kSettings) {
    EXPECT_EQ(run(query_of(s.header)), start_up_answer(s)) << s.name;
  }
}

// What the page shows of a setting is its value in the settings: the same
// as its query answers, here away from every start-up value.
using SettingValues = InstrumentTest;

TEST_F(SettingValues, EachIsWhatItsQueryAnswers) {
  switch_on();
  run("FREQ 123.45 MHZ;:LFO:FREQ 2345;:POW -9;:FREQ:STAR 150 MHZ;:FREQ:STOP 250 MHZ");
  run("SWE:POIN 77;:FREQ:STEP 10 KHZ;:FREQ:MODE SWE");
  acknowledge_all();
  EXPECT_EQ(run("SYST:ERR?"), "0,\"No error\"");
  for (const Setting& s : protocol::kSettings) {
    Setting as_held = s;
    as_held.start_up = setting_value(instrument.settings(), s);
    EXPECT_EQ(run(query_of(s.header)), start_up_answer(as_held)) << s.name;
  }
}

}  // namespace
}  // namespace talmir880::testing
