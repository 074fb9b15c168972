// Events between rooms are never heard inside the call that caused them;
// the loop delivers them in the order they were posted.
#include "device/deferred.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talmir880 {
namespace {

using Lines = std::vector<std::string>;

TEST(Deferred, NothingIsHeardBeforeDeliveryAndEverythingInTheOrderPosted) {
  Deferred deferred;
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

  deferred.deliver();
  EXPECT_EQ(log, (Lines{"first", "first returns", "second", "posted by the first"}));
  EXPECT_FALSE(deferred.waiting());
}

// A box opened by an event runs the loop, which delivers on from where the
// box stands: what waited behind the event, then what came meanwhile.
TEST(Deferred, ABoxsLoopDeliversWhatComesWhileItIsOpen) {
  Deferred deferred;
  Lines log;
  auto note = [&](const std::string& what) { return [&log, what] { log.push_back(what); }; };
  deferred.post(nullptr, [&] {
    log.emplace_back("box opens");
    deferred.post(nullptr, note("a script's line in the box"));
    deferred.deliver();
    log.emplace_back("box answered");
  });
  deferred.post(nullptr, note("waited behind the box"));
  deferred.deliver();
  EXPECT_EQ(log, (Lines{"box opens", "waited behind the box", "a script's line in the box",
                        "box answered"}));
}

}  // namespace
}  // namespace talmir880
