#include "platform/x11/x11_hotkeys.h"

#include "model/event.h"
#include "model/keys.h"
#include "platform/x11/x11_accelerator.h"

namespace kmx::platform::x11 {

bool GrabTable::contains(unsigned keycode, unsigned modifiers) const { return grabs_.count({keycode, modifiers}) != 0; }

void GrabTable::add(const X11Grab& grab, uint64_t id) { grabs_[{grab.keycode, grab.modifiers}] = id; }

void GrabTable::remove(const X11Grab& grab) { grabs_.erase({grab.keycode, grab.modifiers}); }

std::optional<KmxEvent> GrabTable::on_key(bool press, unsigned keycode, unsigned state, unsigned lock_bits) {
  if (!press) {
    const auto held = held_.find(keycode);
    if (held == held_.end()) return std::nullopt;
    const uint64_t id = held->second;
    held_.erase(held);
    return model::hotkey_event(id, false);
  }
  if (held_.count(keycode)) return std::nullopt;  // auto-repeat of a held hot key
  const auto grab = grabs_.find({keycode, state & ~lock_bits & 0xFFu});
  if (grab == grabs_.end()) return std::nullopt;
  held_[keycode] = grab->second;
  return model::hotkey_event(grab->second, true);
}

std::string X11Registrar::normalize(const std::string& text) { return normalize_accelerator(text); }

Result<X11Grab> X11Registrar::register_hotkey(const std::string& text, uint64_t id) {
  auto parsed = parse_accelerator(text);
  if (!parsed) return std::move(parsed).error();
  const unsigned keycode = positions_.keycode(parsed->usage);  // the key's position, whatever the layout
  if (keycode == 0) {
    const model::KeyRow* row = model::key_by_usage(parsed->usage);
    return KmxError::backend("no X11 keycode for key " + std::string(row ? row->name : "?") + " on this keyboard");
  }
  // Two accelerators can name one grab (keysyms sharing a keycode); X would
  // let this client grab it twice without complaint.
  if (table_.contains(keycode, parsed->modifiers)) return KmxError::backend("hotkey already registered");

  const Window root = DefaultRootWindow(display_);
  const X11Grab grab{keycode, parsed->modifiers, lock_masks(display_).all()};
  int code = 0;
  {
    ErrorTrap trap(display_);
    for (unsigned variant : lock_variants(grab.locks))
      XGrabKey(display_, keycode, grab.modifiers | variant, root, False, GrabModeAsync, GrabModeAsync);
    code = trap.sync();
    if (code != 0) {
      // Some variants may be ours now; ungrabbing never touches other clients' grabs.
      for (unsigned variant : lock_variants(grab.locks)) XUngrabKey(display_, keycode, grab.modifiers | variant, root);
      trap.sync();
    }
  }
  if (code == BadAccess) return KmxError::backend("hotkey already registered");
  if (code != 0) return KmxError::backend("XGrabKey failed: " + error_text(display_, code));
  table_.add(grab, id);
  return grab;
}

hotkeys::ReleaseResult<X11Grab> X11Registrar::release(X11Grab grab) {
  const Window root = DefaultRootWindow(display_);
  int code = 0;
  {
    ErrorTrap trap(display_);
    for (unsigned variant : lock_variants(grab.locks))
      XUngrabKey(display_, grab.keycode, grab.modifiers | variant, root);
    code = trap.sync();
  }
  if (code != 0)
    return hotkeys::ReleaseResult<X11Grab>::given_back(
        KmxError::backend("XUngrabKey failed: " + error_text(display_, code)), grab);
  table_.remove(grab);
  return hotkeys::ReleaseResult<X11Grab>::released();
}

}  // namespace kmx::platform::x11
