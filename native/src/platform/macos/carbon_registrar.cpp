#include "platform/macos/carbon_registrar.h"

#include <Carbon/Carbon.h>

#include "model/event.h"
#include "platform/macos/carbon_accelerator.h"

namespace kmx::platform::macos {

TrackedHotkey::TrackedHotkey(TrackedHotkey&& other) noexcept
    : hotkey_(std::move(other.hotkey_)), state_(std::move(other.state_)) {
  other.hotkey_.reset();
}

TrackedHotkey& TrackedHotkey::operator=(TrackedHotkey&& other) noexcept {
  if (this != &other) {
    (void)unregister();
    hotkey_ = std::move(other.hotkey_);
    state_ = std::move(other.state_);
    other.hotkey_.reset();
  }
  return *this;
}

velkor::Expected<void> TrackedHotkey::unregister() noexcept {
  velkor::Expected<void> done;
  if (hotkey_) {
    done = velkor::unregister(std::move(*hotkey_));
    hotkey_.reset();
  }
  if (state_) {
    // A callback already under way sees `gone` and sends nothing after this.
    std::lock_guard lock(state_->mu);
    state_->gone = true;
    if (state_->held) {
      state_->held = false;
      state_->events.send(model::hotkey_event(state_->id, false));
    }
  }
  state_.reset();
  return done;
}

std::string CarbonRegistrar::normalize(const std::string& accelerator) { return normalize_accel(accelerator); }

Result<CarbonRegistrar::Handle> CarbonRegistrar::register_hotkey(const std::string& accelerator, uint64_t id) {
  auto combo = parse_accelerator(accelerator);
  if (!combo) return std::move(combo).error();

  auto state = std::make_shared<HeldState>(events_, id);
  // Runs on the thread that dispatches Carbon events (the main thread's
  // event loop). Only a press after a release, or a release after a press,
  // reaches the host; a closed queue drops the event.
  velkor::HotkeyCallback on_edge = [state](velkor::HotkeyEdge edge) {
    const bool press = edge == velkor::HotkeyEdge::Pressed;
    std::lock_guard lock(state->mu);
    if (state->gone || state->held == press) return;
    state->held = press;
    state->events.send(model::hotkey_event(state->id, press));
  };
  auto hotkey =
      velkor::register_with_options(combo->key_code, combo->modifiers, kEventHotKeyExclusive, std::move(on_edge));
  if (!hotkey) return KmxError::backend(hotkey.error().display());
  return TrackedHotkey(std::move(hotkey).value(), std::move(state));
}

hotkeys::ReleaseResult<CarbonRegistrar::Handle> CarbonRegistrar::release(Handle handle) {
  const velkor::Expected<void> done = handle.unregister();
  if (!done) return hotkeys::ReleaseResult<Handle>::consumed(KmxError::backend(done.error().display()));
  return hotkeys::ReleaseResult<Handle>::released();
}

}  // namespace kmx::platform::macos
