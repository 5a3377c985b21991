// The Windows hot-key apply: makes the registrations on the hidden window
// equal to a shortcut list. Runs on the backend thread only.
//
// Unlike the portable hot-key set, two accelerators are one hot key when
// they parse to the same native combination, and an accelerator that moves
// to another shortcut id keeps its registration: only its entry changes.
#pragma once

#include <string>
#include <unordered_map>

#include "error/result.h"
#include "hotkeys/apply_outcome.h"
#include "model/shortcut.h"
#include "platform/windows/accelerator.h"
#include "platform/windows/hotkey_manager.h"

namespace kmx::platform::windows {

struct RegistrationEntry {
  std::string accelerator;  // as the host passed it in the apply that last confirmed it
  uint64_t shortcut_id = 0;
  HotKey hotkey;
};

// Hot-key id to its registration.
using HotkeyIdMap = std::unordered_map<uint32_t, RegistrationEntry>;

class WinRegistrar {
 public:
  explicit WinRegistrar(HotkeyManager& manager) : manager_(manager) {}

  Result<hotkeys::ApplyOutcome> apply(const model::ShortcutList& shortcuts);

  // The shortcut id a hot-key edge belongs to; none for ids no longer registered.
  const RegistrationEntry* find(uint32_t hotkey_id) const;

  // Unregisters everything in one call; errors are ignored.
  void release_all() noexcept;

  const HotkeyIdMap& entries() const noexcept { return entries_; }

 private:
  HotkeyManager& manager_;
  HotkeyIdMap entries_;
};

}  // namespace kmx::platform::windows
