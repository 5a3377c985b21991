// System-wide hot keys registered on a hidden message-only window. The
// window belongs to the thread that creates the manager, which must pump
// its messages; presses arrive as WM_HOTKEY there, and the release of each
// press is found by a short-lived watcher thread that reads the key every
// 50 ms. Both edges go to one process-wide handler.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "error/result.h"
#include "platform/windows/accelerator.h"

namespace kmx::platform::windows {

// Receives (hot-key id, pressed) for every edge, on the window's thread for
// presses and on a watcher thread for releases.
using HotkeyHandler = void (*)(uint32_t id, bool pressed) noexcept;

class HotkeyManager {
 public:
  // Installs the process-wide handler (replacing any earlier one).
  static void set_handler(HotkeyHandler handler) noexcept;

  // Creates the hidden window on the calling thread.
  static Result<std::unique_ptr<HotkeyManager>> create();
  ~HotkeyManager();  // stops the watchers, then destroys the window
  HotkeyManager(const HotkeyManager&) = delete;
  HotkeyManager& operator=(const HotkeyManager&) = delete;

  // Backend errors; a combination held elsewhere gives
  // "HotKey already registered: " + the hot key's debug form.
  Status register_hotkey(const HotKey& hotkey);
  Status unregister_hotkey(const HotKey& hotkey);
  // Tries every one; the first error is returned.
  Status unregister_all(std::span<const HotKey> hotkeys);

  HWND window() const noexcept { return window_; }

 private:
  struct Watcher {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };

  HotkeyManager(HWND window, HANDLE stop_event) : window_(window), stop_event_(stop_event) {}
  static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  void on_hotkey(uint32_t id, uint16_t vk);
  void reap_finished_watchers();

  HWND window_;
  HANDLE stop_event_;              // manual-reset; set when the manager goes away
  std::vector<Watcher> watchers_;  // only touched on the window's thread
};

}  // namespace kmx::platform::windows
