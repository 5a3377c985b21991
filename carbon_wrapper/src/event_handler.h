// The process-wide Carbon event handler of the wrapper and the C callback
// through which the bridge reaches it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "velkor/bridge.h"
#include "velkor/hotkey.h"

namespace velkor {

struct HotKeyEvent {
  uint32_t event_class = 0;
  uint32_t signature = 0;
  uint32_t id = 0;
  HotkeyEdge edge = HotkeyEdge::Pressed;
};

// The boxed dispatcher handed to the bridge as user data.
struct CallbackState {
  std::function<void(const HotKeyEvent&)> dispatch;
};

class EventHandler {
 public:
  static Expected<EventHandler> install(std::function<void(const HotKeyEvent&)> dispatcher);

  EventHandler(EventHandler&& other) noexcept;
  EventHandler& operator=(EventHandler&&) = delete;
  EventHandler(const EventHandler&) = delete;
  ~EventHandler();  // removes and releases the Carbon handler, then frees the state

 private:
  EventHandler(VelkorKeyboardHandler* handler, std::unique_ptr<CallbackState> state) noexcept
      : handler_(handler), state_(std::move(state)) {}

  VelkorKeyboardHandler* handler_;
  std::unique_ptr<CallbackState> state_;
};

// Given to velkor_event_handler_install; user_data is a CallbackState.
// A fault in a callback is logged here and never reaches Carbon.
void keyboard_callback_trampoline(uint32_t event_class, uint32_t event_kind, uint32_t signature, uint32_t hotkey_id,
                                  void* user_data);

}  // namespace velkor
