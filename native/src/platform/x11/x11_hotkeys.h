// System-wide hot keys as passive key grabs on the root window.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "hotkeys/registrar.h"
#include "platform/backend.h"
#include "platform/x11/x11_display.h"
#include "platform/x11/x11_keymap.h"

namespace kmx::platform::x11 {

// One registered combination: the grab's keycode and modifiers, plus the
// lock bits whose every combination was grabbed alongside.
struct X11Grab {
  unsigned keycode = 0;
  unsigned modifiers = 0;
  unsigned locks = 0;
};

// The worker's record of its grabs and of the hot keys being held, which
// turns grabbed key events into HotkeyTrigger events.
class GrabTable {
 public:
  bool contains(unsigned keycode, unsigned modifiers) const;
  bool empty() const { return grabs_.empty(); }
  bool is_held(unsigned keycode) const { return held_.count(keycode) != 0; }
  void add(const X11Grab& grab, uint64_t id);
  void remove(const X11Grab& grab);

  // A key event delivered by a grab. A press of a held hot key (auto-repeat)
  // and presses that match no grab give nothing; a release gives the id of
  // the press it ends, even when the grab has been released since.
  std::optional<KmxEvent> on_key(bool press, unsigned keycode, unsigned state, unsigned lock_bits);

 private:
  std::map<std::pair<unsigned, unsigned>, uint64_t> grabs_;  // (keycode, modifiers) -> id
  std::map<unsigned, uint64_t> held_;                        // keycode -> id of the press
};

// The Registrar of HotkeySet: built for one apply (or the final clear)
// over the worker's display, its key positions and the grab table.
class X11Registrar {
 public:
  using Handle = X11Grab;

  X11Registrar(Display* display, KeyPositions& positions, GrabTable& table)
      : display_(display), positions_(positions), table_(table) {}

  std::string normalize(const std::string& text);
  Result<Handle> register_hotkey(const std::string& text, uint64_t id);
  hotkeys::ReleaseResult<Handle> release(Handle handle);

 private:
  Display* display_;
  KeyPositions& positions_;
  GrabTable& table_;
};

static_assert(hotkeys::Registrar<X11Registrar>);

}  // namespace kmx::platform::x11
