// What the instrument tells its owner goes to every observer it was handed.
#include <cstddef>
#include <string>
#include <vector>

#include "device/deferred.hpp"
#include "scpi/instrument_fixture.hpp"
#include "scpi/line_feeder.hpp"

namespace talmir880::testing {
namespace {

using Lines = std::vector<std::string>;

class InstrumentEventsTest : public InstrumentTest, private scpi::InstrumentEvents {
 protected:
  InstrumentEventsTest() { instrument.observe(*this); }

  void reachability_changed(DeviceFault fault) override {
    seen.push_back(fault == DeviceFault::none ? "reachable" : "unreachable");
  }
  void settings_changed(Generator::Changer) override { ++settings; }
  void pass_started(int points, bool repeating) override {
    seen.push_back("pass of " + std::to_string(points) + (repeating ? ", repeating" : ", once"));
  }
  void sweep_ended() override { seen.push_back("sweep ended"); }
  void lockout_changed(bool locked) override { seen.push_back(locked ? "locked" : "unlocked"); }
  void switching_off(OffBecause why) override {
    seen.push_back("off: " + std::string(off_reason(why)));
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

// A transport takes what the feeder took off its buffer once the feeder has
// returned, and feeds on from room(), as the socket and stdio ones do: the
// instrument's word must come after the call that caused it, or a line is
// fed again before it is off the buffer.
TEST_F(InstrumentEventsTest, AClientHearsOnlyOnceTheCallThatCausedItHasReturned) {
  struct Transport : scpi::ClientEvents {
    explicit Transport(scpi::Instrument& i) : feeder(i) {}
    void feed() {
      feeding = true;
      unfed.erase(0, feeder.feed(id, unfed));
      feeding = false;
    }
    void answer(std::string text) override {
      heard.push_back(feeding ? "while feeding: " + text : text);
    }
    void room() override { feed(); }
    scpi::LineFeeder feeder;
    ClientId id = 0;
    bool feeding = false;
    std::string unfed;
    Lines heard;
  } transport(instrument);
  transport.id = instrument.attach(transport).value();
  // More lines than a client may have waiting: the rest go at room().
  Lines expected;
  for (std::size_t i = 1; i <= 2 * scpi::Instrument::kMaxBacklog; ++i) {
    transport.unfed += "FREQ " + std::to_string(i) + "E6;FREQ?\n";
    expected.push_back(std::to_string(i) + "000000");
  }
  transport.feed();
  deliver();
  EXPECT_EQ(transport.heard, expected);
  EXPECT_EQ(transport.unfed, "");
}

}  // namespace
}  // namespace talmir880::testing
