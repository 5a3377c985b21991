// The macOS Registrar of the hot-key set: accelerator text to Carbon hot
// keys through the velkor wrapper, presses and releases to HotkeyTrigger
// events on the runtime's event queue.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "error/result.h"
#include "hotkeys/registrar.h"
#include "platform/backend.h"
#include "velkor/hotkey.h"

namespace kmx::platform::macos {

// Shared by a registration's edge callback (on the thread that dispatches
// Carbon events) and its handle (on the worker).
struct HeldState {
  HeldState(EventSender sender, uint64_t shortcut_id) : events(std::move(sender)), id(shortcut_id) {}
  std::mutex mu;  // held while an edge is judged and sent
  bool held = false;
  bool gone = false;  // unregistered: no event follows
  EventSender events;
  uint64_t id;
};

// A Carbon registration that, when it goes away while its hot key is held,
// delivers the release the host would otherwise never see.
class TrackedHotkey {
 public:
  TrackedHotkey(velkor::Hotkey hotkey, std::shared_ptr<HeldState> state) noexcept
      : hotkey_(std::move(hotkey)), state_(std::move(state)) {}
  TrackedHotkey(TrackedHotkey&& other) noexcept;
  TrackedHotkey& operator=(TrackedHotkey&& other) noexcept;
  TrackedHotkey(const TrackedHotkey&) = delete;
  TrackedHotkey& operator=(const TrackedHotkey&) = delete;
  ~TrackedHotkey() { (void)unregister(); }

  // Unregisters, then sends the release of a press still held. Idempotent.
  velkor::Expected<void> unregister() noexcept;

 private:
  std::optional<velkor::Hotkey> hotkey_;
  std::shared_ptr<HeldState> state_;
};

class CarbonRegistrar {
 public:
  using Handle = TrackedHotkey;

  explicit CarbonRegistrar(EventSender events) : events_(std::move(events)) {}

  std::string normalize(const std::string& accelerator);
  // Exclusive registrations, so that another exclusive holder is refused
  // with "hotkey already registered"; a non-exclusive holder goes unnoticed.
  Result<Handle> register_hotkey(const std::string& accelerator, uint64_t id);
  // Always consumes the handle: a failed release is never given back.
  hotkeys::ReleaseResult<Handle> release(Handle handle);

 private:
  EventSender events_;  // each registration keeps its own copy
};

static_assert(hotkeys::Registrar<CarbonRegistrar>);

}  // namespace kmx::platform::macos
