// Keys as the portals name them: shortcut triggers in the XDG shortcuts
// syntax ("CTRL+SHIFT+k") and evdev key codes for keyboard input.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "error/result.h"

namespace kmx::platform::portal {

// How a desktop matches Shift with a key whose shifted symbol is no letter
// (digits, punctuation).
enum class ShiftStyle {
  // "CTRL+SHIFT+1", as the shortcuts syntax writes it.
  Plain,
  // "CTRL+exclam": KDE matches the symbol the compositor produced, with
  // the Shift that produced it taken away, so Shift+1 is stored this way
  // (the symbol read off the reference US keymap, as the key table is).
  ShiftedSymbol,
};

// The preferred trigger for an accelerator of the shared grammar. Parse
// errors are InvalidArgument prefixed with the accelerator.
Result<std::string> shortcut_trigger(std::string_view accelerator, ShiftStyle style = ShiftStyle::Plain);

// The evdev code of a portable usage (a key position, read off the
// reference US keymap); 0 when the key has none.
uint32_t evdev_code(uint32_t usage);

}  // namespace kmx::platform::portal
