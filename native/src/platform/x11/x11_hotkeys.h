// System-wide hot keys as passive key grabs on the root window: a core
// grab and, beside it, an XInput 2 grab of the master keyboard, so that a
// combination either kind of grabbing client holds is refused and neither
// kind can take one of ours.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "hotkeys/registrar.h"
#include "model/shortcut.h"
#include "platform/backend.h"
#include "platform/held_hotkeys.h"
#include "platform/x11/x11_display.h"
#include "platform/x11/x11_keymap.h"

namespace kmx::platform::x11 {

// One registered combination: the grab's keycode and modifiers, the lock
// bits whose every combination was grabbed alongside, and the XInput 2
// master keyboard grabbed too (0: none).
struct X11Grab {
  unsigned keycode = 0;
  unsigned modifiers = 0;
  unsigned locks = 0;
  int xi_device = 0;
};

// A registration as HotkeySet holds it: stable while its grab is taken
// again under another keycode.
struct GrabHandle {
  uint64_t serial = 0;
};

// The worker's record of its grabs and of the hot keys being held, which
// turns key events into HotkeyTrigger events.
class GrabTable {
 public:
  struct Entry {
    X11Grab grab;
    uint64_t id = 0;
    std::string accelerator;
  };

  // Hot-key presses and releases go to `events`.
  explicit GrabTable(EventSender events) : held_(std::move(events)) {}

  bool contains(unsigned keycode, unsigned modifiers) const;
  bool grabs_keycode(unsigned keycode) const;
  bool empty() const { return entries_.empty(); }
  GrabHandle add(const X11Grab& grab, uint64_t id, std::string accelerator);
  const Entry* find(GrabHandle handle) const;
  // Forgets the registration. A hot key of it still held is released now,
  // and no later release follows. True when that release was delivered.
  bool remove(GrabHandle handle);
  // For taking every grab again under a new keyboard mapping.
  std::map<uint64_t, Entry>& entries() { return entries_; }
  const std::map<uint64_t, Entry>& entries() const { return entries_; }

  // A press delivered by one of our grabs. A press of a held hot key
  // (auto-repeat) and presses that match no grab deliver nothing. True
  // when a press was delivered.
  bool press(unsigned keycode, unsigned state, unsigned lock_bits);
  // A key went up: delivers the release of the hot key held on it, if any.
  bool release(unsigned keycode) { return held_.release(keycode); }
  bool is_held(unsigned keycode) const { return held_.is_held(keycode); }

 private:
  const std::pair<const uint64_t, Entry>* match(unsigned keycode, unsigned modifiers) const;

  std::map<uint64_t, Entry> entries_;  // serial -> registration
  HeldHotkeys<unsigned> held_;         // keycode -> the id whose hold began on it
  uint64_t next_serial_ = 1;
};

// The Registrar of HotkeySet, built for one apply (or the final clear) over
// the worker's grab connection, its key positions and the grab table.
// prefetch sends the grabs an apply will need before it starts, so the
// whole apply waits for one round trip; finish ends the apply.
class X11Registrar {
 public:
  using Handle = GrabHandle;

  X11Registrar(Display* display, KeyPositions& positions, GrabTable& table, unsigned locks, int xi_keyboard)
      : display_(display),
        positions_(positions),
        table_(table),
        locks_(locks),
        xi_keyboard_(xi_keyboard) {}

  void prefetch(const model::ShortcutList& shortcuts);
  std::string normalize(const std::string& text);
  Result<Handle> register_hotkey(const std::string& text, uint64_t id);
  hotkeys::ReleaseResult<Handle> release(Handle handle);
  // Ungrabs what was prefetched and never registered and waits for every
  // ungrab of the apply; a failed one is logged (an ungrab of a valid key
  // on the root window fails only with a lost connection).
  void finish();
  // Takes every registered grab again with the current lock bits and key
  // codes (after a keyboard mapping change). A combination that can no
  // longer be grabbed is logged and stays registered without a grab.
  void regrab_all();
  // True when every grab still matches the keycode its key resolves to now
  // and the lock modifiers in force.
  bool grabs_current() const;

 private:
  struct Pending {
    X11Grab grab;
    std::vector<xcb_void_cookie_t> core;
    std::vector<xcb_input_xi_passive_grab_device_cookie_t> xi;  // one per screen
  };
  Result<X11Grab> resolve(const std::string& text) const;
  Pending send_grab(const X11Grab& grab);
  // 0, an X error code, or RequestBatch::LOST; a failed grab is ungrabbed.
  int collect(Pending& pending);
  void send_ungrab(const X11Grab& grab, RequestBatch& batch);
  static KmxError grab_error(Display* display, int code);

  Display* display_;
  KeyPositions& positions_;
  GrabTable& table_;
  unsigned locks_;
  int xi_keyboard_;
  std::map<std::pair<unsigned, unsigned>, std::pair<X11Grab, int>> prefetched_;  // (keycode, modifiers) -> result
  RequestBatch ungrabs_{display_};
};

static_assert(hotkeys::Registrar<X11Registrar>);

}  // namespace kmx::platform::x11
