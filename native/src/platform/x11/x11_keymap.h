// Key positions: which X keycode stands for a portable usage on the
// keyboard a connection sees, and the notices that this may have changed.
//
// A usage names a key position, as a macOS key code does. X servers on
// evdev (every current Linux desktop) number a key by its Linux input event
// code plus 8 whatever the layout, so the table's evdev column gives the
// keycode. The server's XKB key names confirm the numbering (<AC01> at 38,
// <UP> at 111, ...); where they do not, the keycodes are not evdev's and
// the key is found through the keysym column in the current layout.
#pragma once

#include <cstdint>
#include <string>

#include "platform/x11/x11_xlib.h"

namespace kmx::platform::x11 {

// True when the keycodes follow evdev's numbering, judged by the XKB names
// of a few keys whose codes differ between evdev and the older sets.
// `name_of` gives a keycode's XKB name ("" when it has none).
template <class NameOf>
bool names_are_evdev(NameOf&& name_of);

class KeyPositions {
 public:
  // Asks the server for keyboard and mapping change notices on `display`
  // and reads the keyboard. The connection's events must be passed to
  // on_event (or taken with take_notices) from then on.
  explicit KeyPositions(Display* display);
  KeyPositions(const KeyPositions&) = delete;
  KeyPositions& operator=(const KeyPositions&) = delete;

  // The keycode of the usage's key on this keyboard; 0 when it has none.
  unsigned keycode(uint32_t usage);

  // True when usages resolve by position (evdev keycodes).
  bool by_position();

  // An event read from the connection. True when it announced a new
  // keyboard, a keyboard mapping change or a modifier mapping change (the
  // event has then been handled); keycodes are read again when next asked.
  bool on_event(XEvent& event);

  // Reads every event waiting on a connection nobody else reads and handles
  // the notices among them. True when one announced a change.
  bool take_notices();

 private:
  void refresh();

  Display* display_;
  int xkb_event_ = -1;  // XKB's event type, -1 without XKB
  bool stale_ = true;
  bool evdev_ = false;
  int min_keycode_ = 8;
  int max_keycode_ = 255;
};

template <class NameOf>
bool names_are_evdev(NameOf&& name_of) {
  struct Anchor {
    unsigned keycode;
    const char* name;
  };
  // Main-block keys agree between the evdev and the older xfree86 sets;
  // the arrows, the right Control and the keypad Enter do not.
  constexpr Anchor ANCHORS[] = {{9, "ESC"}, {38, "AC01"}, {111, "UP"}, {105, "RCTL"}, {104, "KPEN"}};
  for (const Anchor& a : ANCHORS)
    if (name_of(a.keycode) != a.name) return false;
  return true;
}

}  // namespace kmx::platform::x11
