// What the instrument tells its owner goes to every observer it was handed.
#include <cstddef>
#include <string>
#include <vector>

#include "scpi/instrument_fixture.hpp"

namespace talmir880::testing {
namespace {

using Lines = std::vector<std::string>;

class InstrumentEventsTest : public InstrumentTest, private scpi::InstrumentEvents {
 protected:
  InstrumentEventsTest() { instrument.observe(*this); }

  void reachability_changed(DeviceFault fault) override {
    seen.push_back(fault == DeviceFault::none ? "reachable" : "unreachable");
  }
  void settings_changed(scpi::Generator::Changer) override { ++settings; }
  void pass_started(int points, bool repeating) override {
    seen.push_back("pass of " + std::to_string(points) + (repeating ? ", repeating" : ", once"));
  }
  void sweep_ended() override { seen.push_back("sweep ended"); }
  void lockout_changed(bool locked) override { seen.push_back(locked ? "locked" : "unlocked"); }
  void switching_off(scpi::OffBecause why) override {
    seen.push_back("off: " + std::string(scpi::off_reason(why)));
  }

  Lines seen;
  int settings = 0;
};

TEST_F(InstrumentEventsTest, EveryKindOfEventReachesTheObserverInItsOrder) {
  run("SYST:RWL");
  run("SYST:LOC");
  run("OUTP ON;:FREQ:MODE SWE;:SWE:POIN 5");
  EXPECT_GT(settings, 0);
  run("INIT");
  report_points(5);
  port.fail_write = true;
  run("POW -6");
  port.fail_write = false;
  reopen.run_out();
  run("POW -6");
  // Back, the device owes a switch-off before anything else; reachable
  // once it answered.
  EXPECT_EQ(seen, (Lines{"locked", "unlocked", "pass of 5, once", "sweep ended", "unreachable",
                         "off: the device is back", "reachable"}));
}

TEST_F(InstrumentEventsTest, EveryObserverHearsUntilItIsForgotten) {
  struct Other : scpi::InstrumentEvents {
    void lockout_changed(bool locked) override { lockouts.push_back(locked); }
    std::vector<bool> lockouts;
  } other;
  instrument.observe(other);
  run("SYST:RWL");
  EXPECT_EQ(seen, Lines{"locked"});
  EXPECT_EQ(other.lockouts, std::vector<bool>{true});
  instrument.forget(other);
  run("SYST:LOC");
  EXPECT_EQ(seen, (Lines{"locked", "unlocked"}));
  EXPECT_EQ(other.lockouts, std::vector<bool>{true});
}

TEST_F(InstrumentEventsTest, AnObserverMayForgetItselfWhileItHears) {
  struct Once : scpi::InstrumentEvents {
    explicit Once(scpi::Instrument& i) : instrument(i) {}
    void lockout_changed(bool) override {
      ++heard;
      instrument.forget(*this);
    }
    scpi::Instrument& instrument;
    int heard = 0;
  } once(instrument);
  instrument.observe(once);
  run("SYST:RWL");
  run("SYST:LOC");
  EXPECT_EQ(once.heard, 1);
  EXPECT_EQ(seen, (Lines{"locked", "unlocked"})) << "the others hear on";
}

}  // namespace
}  // namespace talmir880::testing
