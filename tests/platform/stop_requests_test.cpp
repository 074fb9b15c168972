#include "platform/stop_requests.hpp"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>

#include <csignal>
#endif

namespace talmir880::platform {
namespace {

// Whether the event loop would wake up now.
bool wakes(const StopWatch& watch) {
#ifdef _WIN32
  return ::WaitForSingleObject(reinterpret_cast<HANDLE>(watch.handle), 1000) == WAIT_OBJECT_0;
#else
  pollfd watched{static_cast<int>(watch.handle), POLLIN, 0};
  return ::poll(&watched, 1, 1000) == 1;
#endif
}

// What a user's Ctrl+C or the service manager's stop does to the process;
// false where it cannot be done here.
bool request_stop() {
#ifdef _WIN32
  // Windows sends Ctrl+C to the processes of a console only (the test runs
  // once more in one: platform.stop_requests_in_a_console).
  return ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != 0;
#else
  return std::raise(SIGTERM) == 0;
#endif
}

TEST(StopRequests, ARequestWakesTheLoopOnceAndEndsNothing) {
  const StopWatch watch = catch_stop_requests();
  ASSERT_EQ(watch.error, "");
  EXPECT_FALSE(take_stop_request());
  if (!request_stop()) GTEST_SKIP() << "no console to send Ctrl+C to";
  ASSERT_TRUE(wakes(watch));
  EXPECT_TRUE(take_stop_request());
  EXPECT_FALSE(take_stop_request()) << "taken once";
  EXPECT_EQ(catch_stop_requests().handle, watch.handle) << "caught once per process";
}

}  // namespace
}  // namespace talmir880::platform
