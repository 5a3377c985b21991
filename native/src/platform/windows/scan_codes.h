// The scan codes injected keys carry. Applications that read scan codes
// (browsers derive KeyboardEvent.code from them; games, remote-desktop and
// VM clients) see a key with scan 0 as no key at all, and an arrow or Home
// without the extended flag as its keypad twin, which loses Shift while
// Num Lock is on.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

namespace kmx::platform::windows {

struct ScanCode {
  uint8_t code = 0;
  bool extended = false;  // E0-prefixed: KEYEVENTF_EXTENDEDKEY / LLKHF_EXTENDED
};

// The key's position on a standard keyboard (scan code set 1), for every
// row of the key and modifier tables; none for other usages.
std::optional<ScanCode> standard_scan_code(uint32_t usage) noexcept;

// Whether the key's virtual key follows the keyboard layout (letters,
// digits, punctuation), so that its position must come from the layout.
bool layout_dependent(uint32_t usage) noexcept;

// The scan code to inject for a usage whose virtual key is vk, under the
// given layout: the layout's position for layout-dependent keys when the
// layout has the key, the standard position otherwise. The extended flag
// is a property of the position and never comes from the layout: Wine's
// MapVirtualKeyEx drops it, and Windows reports Pause as an E1 sequence.
ScanCode scan_code_for(uint32_t usage, uint32_t vk, HKL layout) noexcept;

}  // namespace kmx::platform::windows
