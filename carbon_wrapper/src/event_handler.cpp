#include "event_handler.h"

#include <Carbon/Carbon.h>

#include "util/panic_safe.h"

namespace velkor {

Expected<EventHandler> EventHandler::install(std::function<void(const HotKeyEvent&)> dispatcher) {
  auto state = std::make_unique<CallbackState>(CallbackState{std::move(dispatcher)});
  VelkorKeyboardHandler* handler = nullptr;
  const int32_t status = velkor_event_handler_install(keyboard_callback_trampoline, state.get(), &handler);
  if (status != noErr) return HotkeyError::install_handler_failed(status);
  return EventHandler(handler, std::move(state));
}

EventHandler::EventHandler(EventHandler&& other) noexcept : handler_(other.handler_), state_(std::move(other.state_)) {
  other.handler_ = nullptr;
}

EventHandler::~EventHandler() {
  if (handler_ != nullptr) {
    velkor_event_handler_remove(handler_);
    velkor_event_handler_release(handler_);
  }
}

void keyboard_callback_trampoline(uint32_t event_class, uint32_t event_kind, uint32_t signature, uint32_t hotkey_id,
                                  void* user_data) {
  kmx::util::log_callback_panic("keyboard_callback_trampoline", [&] {
    HotkeyEdge edge;
    if (event_kind == kEventHotKeyPressed) {
      edge = HotkeyEdge::Pressed;
    } else if (event_kind == kEventHotKeyReleased) {
      edge = HotkeyEdge::Released;
    } else {
      return;
    }
    if (user_data == nullptr) return;
    static_cast<CallbackState*>(user_data)->dispatch(HotKeyEvent{event_class, signature, hotkey_id, edge});
  });
}

}  // namespace velkor
