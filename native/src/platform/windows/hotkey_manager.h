// System-wide hot keys registered on a hidden message-only window. The
// window belongs to the thread that creates the manager, which must pump
// its messages; presses arrive as WM_HOTKEY there, and the release of each
// press is found by the manager's release watcher, a thread that reads the
// held keys every 50 ms while any is held and sleeps otherwise. Both edges
// go to one process-wide handler.
//
// The window procedure only hands the press to the watcher: it never
// starts, joins or waits for a thread, since the window's thread also runs
// the low-level hooks.
#pragma once

#include <windows.h>

#include <memory>
#include <span>
#include <thread>

#include "error/result.h"
#include "platform/windows/accelerator.h"
#include "queue/channel.h"

namespace kmx::platform::windows {

// Receives (hot-key id, pressed) for every edge, on the window's thread for
// presses and on the watcher for releases.
using HotkeyHandler = void (*)(uint32_t id, bool pressed) noexcept;

class HotkeyManager {
 public:
  // Installs the process-wide handler (replacing any earlier one).
  static void set_handler(HotkeyHandler handler) noexcept;

  // Creates the hidden window and the watcher on the calling thread.
  static Result<std::unique_ptr<HotkeyManager>> create();
  ~HotkeyManager();  // ends the watcher, then destroys the window
  HotkeyManager(const HotkeyManager&) = delete;
  HotkeyManager& operator=(const HotkeyManager&) = delete;

  // Backend errors; a combination held elsewhere gives
  // "HotKey already registered: " + the hot key's debug form.
  Status register_hotkey(const HotKey& hotkey);
  Status unregister_hotkey(const HotKey& hotkey);
  // Tries every one; the first error is returned.
  Status unregister_all(std::span<const HotKey> hotkeys);

  HWND window() const noexcept { return window_; }

  struct Press {
    uint32_t id;
    uint16_t vk;
  };

 private:
  HotkeyManager() = default;
  static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  void on_hotkey(uint32_t id, uint16_t vk);

  HWND window_ = nullptr;
  HANDLE stop_event_ = nullptr;   // manual-reset; set when the manager goes away
  HANDLE press_event_ = nullptr;  // auto-reset; set for each press handed over
  queue::Sender<Press> presses_;
  std::thread watcher_;
};

}  // namespace kmx::platform::windows
