// The macOS Registrar of the hot-key set: accelerator text to Carbon hot
// keys through the velkor wrapper, presses and releases to HotkeyTrigger
// events on the runtime's event queue.
#pragma once

#include <string>

#include "error/result.h"
#include "hotkeys/registrar.h"
#include "platform/backend.h"
#include "velkor/hotkey.h"

namespace kmx::platform::macos {

class CarbonRegistrar {
 public:
  using Handle = velkor::Hotkey;

  explicit CarbonRegistrar(EventSender events) : events_(std::move(events)) {}

  std::string normalize(const std::string& accelerator);
  Result<Handle> register_hotkey(const std::string& accelerator, uint64_t id);
  // Always consumes the handle: a failed release is never given back.
  hotkeys::ReleaseResult<Handle> release(Handle handle);

 private:
  EventSender events_;  // each registration's callback keeps its own copy
};

static_assert(hotkeys::Registrar<CarbonRegistrar>);

}  // namespace kmx::platform::macos
