// Events between rooms are never heard inside the call that caused them;
// the loop delivers them in the order they were posted.
#include "device/deferred.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talmir880 {
namespace {

using Lines = std::vector<std::string>;

struct CountingLoop final : Deferred::Loop {
  void wake() override { ++wakes; }
  int wakes = 0;
};

TEST(Deferred, NothingIsHeardBeforeDeliveryAndEverythingInTheOrderPosted) {
  Deferred deferred;
  CountingLoop loop;
  deferred.set_loop(&loop);
  Lines log;
  auto note = [&](const std::string& what) { return [&log, what] { log.push_back(what); }; };
  const int gone = 0;
  deferred.post(nullptr, [&] {
    log.emplace_back("first");
    deferred.post(nullptr, note("posted by the first"));
    log.emplace_back("first returns");
  });
  deferred.post(&gone, note("of an owner gone"));
  deferred.post(nullptr, note("second"));
  deferred.forget(&gone);
  EXPECT_TRUE(log.empty()) << "heard inside the call that posted it";
  EXPECT_EQ(loop.wakes, 1) << "one wake for what waits together";

  deferred.deliver();
  EXPECT_EQ(log, (Lines{"first", "first returns", "second", "posted by the first"}));
  EXPECT_FALSE(deferred.waiting());
  deferred.set_loop(nullptr);
}

// A box opened by an event runs the loop: the loop is woken for what comes
// meanwhile, and its delivery goes on from where the box stands.
TEST(Deferred, ABoxsLoopDeliversWhatComesWhileItIsOpen) {
  Deferred deferred;
  CountingLoop loop;
  deferred.set_loop(&loop);
  Lines log;
  auto note = [&](const std::string& what) { return [&log, what] { log.push_back(what); }; };
  deferred.post(nullptr, [&] {
    log.emplace_back("box opens");
    deferred.post(nullptr, note("a script's line in the box"));
    EXPECT_EQ(loop.wakes, 2) << "nobody would deliver it while the box is open";
    deferred.deliver();
    log.emplace_back("box answered");
  });
  deferred.post(nullptr, note("waited behind the box"));
  deferred.deliver();
  EXPECT_EQ(log, (Lines{"box opens", "waited behind the box", "a script's line in the box",
                        "box answered"}));
  deferred.set_loop(nullptr);
}

TEST(Deferred, ALoopSetLateIsWokenForWhatWaits) {
  Deferred deferred;
  deferred.post(nullptr, [] {});
  CountingLoop loop;
  deferred.set_loop(&loop);
  EXPECT_EQ(loop.wakes, 1);
  deferred.set_loop(nullptr);
}

}  // namespace
}  // namespace talmir880
