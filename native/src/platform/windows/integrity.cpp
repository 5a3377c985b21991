#include "platform/windows/integrity.h"

#include <windows.h>

#include "error/kmx_error.h"
#include "platform/windows/win32_seam.h"

namespace kmx::platform::windows {

std::optional<std::string> foreground_refuses_input() {
  HWND foreground = ::GetForegroundWindow();
  if (foreground == nullptr) return std::nullopt;
  DWORD pid = 0;
  ::GetWindowThreadProcessId(foreground, &pid);
  if (pid == 0) return std::nullopt;
  // Limited query rights are granted even on elevated processes.
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return std::nullopt;
  const DWORD theirs = win32().process_integrity(process);
  ::CloseHandle(process);
  const DWORD ours = win32().process_integrity(::GetCurrentProcess());
  if (theirs == 0 || ours == 0 || theirs <= ours) return std::nullopt;
  return "the foreground window belongs to a process of higher integrity level (" + error::hex(theirs) +
         ") than this one (" + error::hex(ours) + "); Windows drops input sent to it, so nothing was sent";
}

}  // namespace kmx::platform::windows
