// The few Win32 calls whose failures Wine cannot be made to produce on
// demand (partial SendInput, refused unregistration or hook installation,
// CreateEventW failing). The library calls them only through this table,
// which holds the real functions; tests swap single entries.
#pragma once

#include <windows.h>

namespace kmx::platform::windows {

struct Win32Seam {
  UINT(WINAPI* send_input)(UINT count, LPINPUT inputs, int size);
  BOOL(WINAPI* unregister_hot_key)(HWND window, int id);
  HHOOK(WINAPI* set_windows_hook_ex)(int kind, HOOKPROC proc, HINSTANCE module, DWORD thread);
  HANDLE(WINAPI* create_event)(LPSECURITY_ATTRIBUTES attributes, BOOL manual_reset, BOOL initial, LPCWSTR name);
};

// The process's table; never exported from the DLL.
Win32Seam& win32() noexcept;

}  // namespace kmx::platform::windows
