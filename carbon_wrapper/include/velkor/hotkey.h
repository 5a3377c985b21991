// System-wide hot keys through Carbon: a move-only registration handle, an
// edge callback per registration and one process-wide event handler that
// dispatches Carbon's hot-key events to those callbacks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "velkor/bridge.h"
#include "velkor/hotkey_error.h"

namespace velkor {

enum class HotkeyEdge { Pressed, Released };

// Called from the thread that dispatches the application's Carbon events.
using HotkeyCallback = std::function<void(HotkeyEdge)>;

// Every registration's Carbon hot-key id carries this signature ('brnd').
inline constexpr uint32_t HOTKEY_SIGNATURE = 0x62726E64;

// One registration. Dropping it unregisters it (result ignored).
class Hotkey {
 public:
  // Adopts one reference to registration (which may be null) under id.
  Hotkey(VelkorRegistration* registration, uint32_t id) noexcept : registration_(registration), id_(id) {}
  Hotkey(Hotkey&& other) noexcept;
  Hotkey& operator=(Hotkey&& other) noexcept;
  Hotkey(const Hotkey&) = delete;
  Hotkey& operator=(const Hotkey&) = delete;
  ~Hotkey();

  uint32_t id() const noexcept { return id_; }

 private:
  friend Expected<void> unregister(Hotkey hotkey);
  Expected<void> unregister_now() noexcept;

  VelkorRegistration* registration_;
  uint32_t id_;
  bool live_ = true;  // false once unregistered or moved from
};

// Registers key code + Carbon modifier mask; callback receives every press
// and release until the handle is unregistered or dropped.
Expected<Hotkey> register_with_options(uint16_t key_code, uint32_t modifiers, uint32_t options,
                                       HotkeyCallback callback);

// Consumes the handle; its callback is removed whatever Carbon answers.
Expected<void> unregister(Hotkey hotkey);

// The outcome of installing the process-wide event handler: attempted once
// per process, then remembered.
const Expected<void>& install_handler_once();

// Exclusive access to the id -> callback table.
struct CallbackTable {
  std::unique_lock<std::mutex> lock;
  std::unordered_map<uint32_t, std::shared_ptr<const HotkeyCallback>>& entries;
};
CallbackTable lock_callback_table();

}  // namespace velkor
