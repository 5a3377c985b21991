// X11: native codes are keycodes. On evdev keycodes (the library's test,
// by XKB key names) the code names the key position, as the library reads
// it; otherwise the keycode's first keysym finds the table row.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "key_names.h"
#include "native_names.h"
#include "platform/x11/x11_keymap.h"

namespace kmx_tool {

namespace {

// Some X servers reset a fresh connection now and then; retry briefly.
Display* open_retrying() {
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (Display* d = XOpenDisplay(nullptr)) return d;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return nullptr;
}

bool keycodes_are_evdev(Display* display) {
  XkbDescPtr xkb = XkbGetMap(display, 0, XkbUseCoreKbd);
  if (!xkb) return false;
  bool evdev = false;
  if (XkbGetNames(display, XkbKeyNamesMask, xkb) == 0 && xkb->names && xkb->names->keys) {
    evdev = kmx::platform::x11::names_are_evdev([xkb](unsigned keycode) {
      if (keycode < xkb->min_key_code || keycode > xkb->max_key_code) return std::string();
      const char* name = xkb->names->keys[keycode].name;
      return std::string(name, strnlen(name, XkbKeyNameLength));
    });
  }
  XkbFreeKeyboard(xkb, 0, True);
  return evdev;
}

}  // namespace

std::optional<std::string_view> key_name_for_native_code(uint32_t native_code) {
  static Display* display = open_retrying();  // the program's own, for the process's life
  static const bool evdev = display && keycodes_are_evdev(display);
  if (!display || native_code < 8 || native_code > 255) return std::nullopt;
  if (evdev) {
    for (const KeyName& k : all_keys())
      if (k.evdev_code + 8 == native_code) return k.name;
    return std::nullopt;
  }
  const KeySym keysym = XkbKeycodeToKeysym(display, static_cast<KeyCode>(native_code), 0, 0);
  for (const KeyName& k : all_keys())
    if (keysym != NoSymbol && k.x11_keysym == keysym) return k.name;
  return std::nullopt;
}

}  // namespace kmx_tool
