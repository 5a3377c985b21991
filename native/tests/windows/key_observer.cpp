// A second program on the desktop that watches keyboard input through a
// low-level hook of its own, as another application would.
//
//   key_observer.exe COUNT
//
// Prints "ready" once its hook is installed, then records every key event
// that carries the library's injection marker. After COUNT of them, or when
// its standard input closes, it prints one line per event,
// "<down> <vk> <scan> <flags>" in hexadecimal, and ends.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr uint64_t MARKER = 0x4B45594D55580001ull;

struct Seen {
  bool down;
  DWORD vk, scan, flags;
};

std::vector<Seen> SEEN;
size_t WANTED = 0;
DWORD MAIN_THREAD = 0;

// Records only; the output waits until the hook is gone.
LRESULT CALLBACK keyboard(int code, WPARAM message, LPARAM lparam) {
  const auto* info = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lparam);
  if (code >= 0 && static_cast<uint64_t>(info->dwExtraInfo) == MARKER) {
    SEEN.push_back({message == WM_KEYDOWN || message == WM_SYSKEYDOWN, info->vkCode, info->scanCode, info->flags});
    if (SEEN.size() == WANTED) ::PostThreadMessageW(MAIN_THREAD, WM_QUIT, 0, 0);
  }
  return ::CallNextHookEx(nullptr, code, message, lparam);
}

DWORD WINAPI wait_for_stdin_close(void*) {
  char buf[64];
  DWORD n = 0;
  while (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), buf, sizeof buf, &n, nullptr) && n > 0) {
  }
  ::PostThreadMessageW(MAIN_THREAD, WM_QUIT, 0, 0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  WANTED = std::strtoul(argv[1], nullptr, 10);
  MAIN_THREAD = ::GetCurrentThreadId();
  MSG msg;
  ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue, for WM_QUIT
  SEEN.reserve(WANTED);
  HHOOK hook = ::SetWindowsHookExW(WH_KEYBOARD_LL, &keyboard, ::GetModuleHandleW(nullptr), 0);
  if (hook == nullptr) return 3;
  ::CloseHandle(::CreateThread(nullptr, 0, &wait_for_stdin_close, nullptr, 0, nullptr));
  std::printf("ready\n");
  std::fflush(stdout);
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
  ::UnhookWindowsHookEx(hook);
  for (const Seen& s : SEEN) std::printf("%d %lx %lx %lx\n", s.down ? 1 : 0, s.vk, s.scan, s.flags);
  std::fflush(stdout);
  return 0;
}
