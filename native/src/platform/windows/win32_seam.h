// The few Win32 calls whose failures or answers Wine cannot be made to
// produce on demand (partial SendInput, refused unregistration or hook
// installation, CreateEventW failing, an elevated foreground process, a
// standard error that blocks). The library calls them only through this
// table, which holds the real functions; tests swap single entries.
#pragma once

#include <windows.h>

#include <cstddef>

namespace kmx::platform::windows {

struct Win32Seam {
  UINT(WINAPI* send_input)(UINT count, LPINPUT inputs, int size);
  BOOL(WINAPI* unregister_hot_key)(HWND window, int id);
  HHOOK(WINAPI* set_windows_hook_ex)(int kind, HOOKPROC proc, HINSTANCE module, DWORD thread);
  BOOL(WINAPI* unhook_windows_hook_ex)(HHOOK hook);
  HANDLE(WINAPI* create_event)(LPSECURITY_ATTRIBUTES attributes, BOOL manual_reset, BOOL initial, LPCWSTR name);
  // The mandatory integrity level (SECURITY_MANDATORY_*_RID) of a process's
  // token; 0 when it cannot be read.
  DWORD (*process_integrity)(HANDLE process) noexcept;
  // Writes to the process's standard error; may block as long as it likes.
  void (*write_error_text)(const char* text, size_t size) noexcept;
};

// The process's table; never exported from the DLL.
Win32Seam& win32() noexcept;

}  // namespace kmx::platform::windows
