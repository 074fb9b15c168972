// Events between rooms wait for the outermost call to return, and come in
// the order they were posted.
#include "device/deferred.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talmir880 {
namespace {

using Lines = std::vector<std::string>;

TEST(Deferred, EventsWaitForTheOutermostDoorAndEachForTheOneBefore) {
  Deferred deferred;
  Lines log;
  auto note = [&](const std::string& what) { return [&log, what] { log.push_back(what); }; };
  {
    const Deferred::Door outer(deferred);
    deferred.post(nullptr, [&] {
      log.emplace_back("first");
      deferred.post(nullptr, note("posted by the first"));
      log.emplace_back("first returns");
    });
    {
      const Deferred::Door inner(deferred);
      deferred.post(nullptr, note("second"));
    }
    log.emplace_back("the outer call returns");
  }
  EXPECT_EQ(log, (Lines{"the outer call returns", "first", "first returns", "second",
                        "posted by the first"}));
  deferred.post(nullptr, note("no door open: at once"));
  EXPECT_EQ(log.back(), "no door open: at once");
}

TEST(Deferred, ABoxHearsWhatWaitedAndItsCallsComeFromOutside) {
  Deferred deferred;
  Lines log;
  auto note = [&](const std::string& what) { return [&log, what] { log.push_back(what); }; };
  const int gone = 0;
  {
    const Deferred::Door handler(deferred);
    deferred.post(&gone, note("of an owner gone"));
    deferred.post(nullptr, note("before the box"));
    deferred.forget(&gone);
    {
      const Deferred::Loop box(deferred);
      EXPECT_EQ(log, Lines{"before the box"});
      {
        const Deferred::Door script(deferred);
        deferred.post(nullptr, note("a script's line in the box"));
      }
      EXPECT_EQ(log.back(), "a script's line in the box");
    }
    deferred.post(nullptr, note("after the box"));
    EXPECT_EQ(log.back(), "a script's line in the box") << "the handler's door is open again";
  }
  EXPECT_EQ(log, (Lines{"before the box", "a script's line in the box", "after the box"}));
}

}  // namespace
}  // namespace talmir880
