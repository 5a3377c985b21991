#include "platform/macos/carbon_registrar.h"

#include "model/event.h"
#include "platform/macos/carbon_accelerator.h"

namespace kmx::platform::macos {

std::string CarbonRegistrar::normalize(const std::string& accelerator) { return normalize_accel(accelerator); }

Result<CarbonRegistrar::Handle> CarbonRegistrar::register_hotkey(const std::string& accelerator, uint64_t id) {
  auto combo = parse_accelerator(accelerator);
  if (!combo) return std::move(combo).error();

  // Runs on the thread that dispatches Carbon events; a closed queue drops
  // the event.
  velkor::HotkeyCallback on_edge = [events = events_, id](velkor::HotkeyEdge edge) {
    events.send(model::hotkey_event(id, edge == velkor::HotkeyEdge::Pressed));
  };
  auto hotkey = velkor::register_with_options(combo->key_code, combo->modifiers, 0, std::move(on_edge));
  if (!hotkey) return KmxError::backend(hotkey.error().display());
  return std::move(hotkey).value();
}

hotkeys::ReleaseResult<CarbonRegistrar::Handle> CarbonRegistrar::release(Handle handle) {
  const velkor::Expected<void> done = velkor::unregister(std::move(handle));
  if (!done) return hotkeys::ReleaseResult<Handle>::consumed(KmxError::backend(done.error().display()));
  return hotkeys::ReleaseResult<Handle>::released();
}

}  // namespace kmx::platform::macos
