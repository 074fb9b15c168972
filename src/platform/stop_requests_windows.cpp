#include <windows.h>

#include <atomic>

#include "platform/stop_requests.hpp"

namespace talmir880::platform {
namespace {

HANDLE g_event = nullptr;
std::atomic<bool> g_requested{false};

// Windows calls this on a thread of its own.
BOOL WINAPI on_console_event(DWORD kind) {
  switch (kind) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      g_requested = true;
      ::SetEvent(g_event);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The process ends when this returns: give the event loop the few
      // seconds Windows allows to write the switch-offs.
      g_requested = true;
      ::SetEvent(g_event);
      ::Sleep(4000);
      return TRUE;
    default:
      return FALSE;
  }
}

std::string last_error_text() { return "Windows error " + std::to_string(::GetLastError()); }

}  // namespace

StopWatch catch_stop_requests() {
  if (g_event == nullptr) {
    g_event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (g_event == nullptr) return {-1, last_error_text()};
    if (!::SetConsoleCtrlHandler(on_console_event, TRUE)) return {-1, last_error_text()};
  }
  return {reinterpret_cast<std::intptr_t>(g_event), {}};
}

bool take_stop_request() {
  if (g_event != nullptr) ::ResetEvent(g_event);
  return g_requested.exchange(false);
}

}  // namespace talmir880::platform
