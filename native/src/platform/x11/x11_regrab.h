// Hot keys follow the keyboard: after a keyboard, keymap or modifier-map
// change every grab whose keycode or lock modifiers moved is taken again.
#pragma once

#include <string>
#include <vector>

#include "hotkeys/hotkey_set.h"
#include "platform/x11/x11_hotkeys.h"
#include "platform/x11/x11_keymap.h"

namespace kmx::platform::x11 {

// True when some active hot key's grab no longer matches the keycode its
// usage resolves to or the lock modifiers in force.
bool grabs_out_of_date(const hotkeys::HotkeySet<X11Registrar>& set, KeyPositions& positions, unsigned lock_bits);

// Releases every hot key and takes the same set again; a hot key that can
// no longer be taken (its key is gone, another client holds it now) is left
// out and the others stay. Returns the canonical texts left out, sorted.
std::vector<std::string> retake_hotkeys(hotkeys::HotkeySet<X11Registrar>& set, X11Registrar& registrar);

}  // namespace kmx::platform::x11
