// X11: native codes are keycodes; their first keysym finds the table row.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include "key_names.h"
#include "native_names.h"

namespace kmx_tool {

std::optional<std::string_view> key_name_for_native_code(uint32_t native_code) {
  static Display* display = XOpenDisplay(nullptr);  // the program's own, for the process's life
  if (!display || native_code < 8 || native_code > 255) return std::nullopt;
  const KeySym keysym = XkbKeycodeToKeysym(display, static_cast<KeyCode>(native_code), 0, 0);
  for (const KeyName& k : all_keys())
    if (keysym != NoSymbol && k.x11_keysym == keysym) return k.name;
  return std::nullopt;
}

}  // namespace kmx_tool
