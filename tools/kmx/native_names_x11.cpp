// X11: native codes are keycodes; their first keysym finds the table row.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <chrono>
#include <thread>

#include "key_names.h"
#include "native_names.h"

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

}  // namespace

std::optional<std::string_view> key_name_for_native_code(uint32_t native_code) {
  static Display* display = open_retrying();  // the program's own, for the process's life
  if (!display || native_code < 8 || native_code > 255) return std::nullopt;
  const KeySym keysym = XkbKeycodeToKeysym(display, static_cast<KeyCode>(native_code), 0, 0);
  for (const KeyName& k : all_keys())
    if (keysym != NoSymbol && k.x11_keysym == keysym) return k.name;
  return std::nullopt;
}

}  // namespace kmx_tool
