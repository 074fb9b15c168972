#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "toolkit/controls.hpp"
#include "toolkit/manual_clock.hpp"

namespace talmir880 {
namespace {

TEST(ComboBox, SettingTheIndexRunsClickEvenWhenUnchanged) {
  ComboBox list("list");
  std::vector<int> seen;
  list.Click = [&] { seen.push_back(list.ListIndex()); };
  list.AddItem("a", 0);
  list.AddItem("c", 1);
  list.AddItem("b", 1);
  EXPECT_EQ(list.items(), (std::vector<std::string>{"a", "b", "c"}));
  list.set_ListIndex(2);
  list.set_ListIndex(2);
  list.pick(0);
  EXPECT_EQ(seen, (std::vector<int>{2, 2, 0}));
  list.set_List(0, "A");
  EXPECT_EQ(list.List(0), "A");
  EXPECT_EQ(list.ListIndex(), 0);
  EXPECT_THROW(list.set_ListIndex(3), std::out_of_range);
}

TEST(ProgressBar, ReadsBackExactlyWhatWasStored) {
  ProgressBar bar("bar");
  bar.set_Value(99.95f);
  EXPECT_EQ(bar.Value(), 99.95f);
  EXPECT_NE(bar.Value(), 100.0f);
  EXPECT_THROW(bar.set_Value(100.5f), std::out_of_range);
  EXPECT_THROW(bar.set_Value(-1.0f), std::out_of_range);
}

TEST(Button, ADisabledButtonCannotBePressed) {
  Button b("b");
  int clicks = 0;
  b.Click = [&] { ++clicks; };
  b.click();
  b.set_Enabled(false);
  b.click();
  EXPECT_EQ(clicks, 1);
}

TEST(ManualClock, FiresDueTicksInOrderAndRestartsOnRearm) {
  ManualClock clock;
  Timer fast("fast", 50), slow("slow", 500);
  std::vector<std::pair<std::string, std::int64_t>> log;
  fast.Tick = [&] { log.emplace_back("fast", clock.now()); };
  slow.Tick = [&] {
    log.emplace_back("slow", clock.now());
    slow.set_Enabled(false);
  };
  clock.attach(fast);
  clock.attach(slow);
  slow.set_Enabled(true);
  clock.advance(300);
  slow.set_Enabled(true);  // armed again: a fresh 500 ms
  fast.set_Enabled(true);
  clock.advance(120);
  fast.set_Enabled(false);
  clock.advance(499 - 120);
  EXPECT_EQ(log.size(), 2u);
  clock.advance(1);
  clock.advance(2000);
  using P = std::pair<std::string, std::int64_t>;
  EXPECT_EQ(log, (std::vector<P>{{"fast", 350}, {"fast", 400}, {"slow", 800}}));
}

}  // namespace
}  // namespace talmir880
