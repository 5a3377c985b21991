// The bridge's reference-counted objects. Counts are atomic because a
// reference may be dropped on another thread than the one that took it.
#pragma once

#include <Carbon/Carbon.h>

#include <atomic>
#include <cstdint>

#include "velkor/bridge.h"

namespace velkor::bridge {

// Drops one reference; the last one runs Obj::on_last_release and frees.
template <class Obj>
void release_ref(Obj* obj) {
  if (obj == nullptr) return;
  if (obj->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    obj->on_last_release();
    delete obj;
  }
}

template <class Obj>
void retain_ref(Obj* obj) {
  if (obj != nullptr) obj->refs.fetch_add(1, std::memory_order_relaxed);
}

// Keeps an object whose caller took no reference (a null out pointer): it
// stays installed for the rest of the process, as Carbon's own would.
void keep_unowned(void* object);

// Handler procedure shared by the keyboard handler and the stream bridge:
// reads the class, kind and hot-key id of a Carbon hot-key event.
struct HotkeyEventFields {
  uint32_t event_class = 0;
  uint32_t event_kind = 0;
  EventHotKeyID hotkey{};
};
OSStatus read_hotkey_event(EventRef event, HotkeyEventFields& out);

// Installs proc for the pressed and released hot-key events on the
// application target.
OSStatus install_hotkey_handler(EventHandlerUPP proc, void* user_data, EventHandlerRef* out);

}  // namespace velkor::bridge

struct VelkorRegistration {
  std::atomic<uint32_t> refs{1};
  EventHotKeyRef hotKeyRef = nullptr;
  uint32_t identifier = 0;

  void on_last_release();
};

struct VelkorKeyboardHandler {
  std::atomic<uint32_t> refs{1};
  EventHandlerRef eventHandlerRef = nullptr;
  VelkorHotkeyEventCallback callback = nullptr;
  void* callbackUserData = nullptr;

  void on_last_release();
};

struct VelkorAsyncStreamBridge {
  std::atomic<uint32_t> refs{1};
  EventHandlerRef eventHandlerRef = nullptr;
  VelkorHotkeyStreamCallback callback = nullptr;
  void* callbackUserData = nullptr;

  void on_last_release();
};
