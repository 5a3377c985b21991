#include "platform/windows/stats.h"

#include <windows.h>

#include "platform/windows/diagnostics.h"

namespace kmx::platform::windows {

Stats STATS;

std::string stats_line() {
  return "[keymux-stats] wakes=" + std::to_string(STATS.wakes.load(std::memory_order_relaxed)) +
         " commands=" + std::to_string(STATS.commands.load(std::memory_order_relaxed)) +
         " hook_events=" + std::to_string(STATS.hook_events.load(std::memory_order_relaxed)) +
         " motion_coalesced=" + std::to_string(STATS.motion_coalesced.load(std::memory_order_relaxed));
}

void print_stats_if_requested() noexcept {
  // getenv cannot tell an empty variable from a missing one on every CRT;
  // the Win32 lookup can.
  wchar_t probe[1];
  ::SetLastError(ERROR_SUCCESS);
  if (::GetEnvironmentVariableW(L"KMX_DEBUG_STATS", probe, 1) == 0 && ::GetLastError() == ERROR_ENVVAR_NOT_FOUND)
    return;
  try {
    post_diagnostic(stats_line());
  } catch (...) {
  }
}

}  // namespace kmx::platform::windows
