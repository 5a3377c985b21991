#include "platform/x11/x11_hotkeys.h"

#include <cstdio>
#include <cstdlib>

#include "model/event.h"
#include "model/keys.h"
#include "platform/x11/x11_accelerator.h"

namespace kmx::platform::x11 {

bool GrabTable::contains(unsigned keycode, unsigned modifiers) const { return match(keycode, modifiers) != nullptr; }

bool GrabTable::grabs_keycode(unsigned keycode) const {
  for (const auto& [serial, entry] : entries_)
    if (entry.grab.keycode == keycode) return true;
  return false;
}

GrabHandle GrabTable::add(const X11Grab& grab, uint64_t id, std::string accelerator) {
  const uint64_t serial = next_serial_++;
  entries_[serial] = Entry{grab, id, std::move(accelerator)};
  return GrabHandle{serial};
}

const GrabTable::Entry* GrabTable::find(GrabHandle handle) const {
  const auto it = entries_.find(handle.serial);
  return it == entries_.end() ? nullptr : &it->second;
}

bool GrabTable::remove(GrabHandle handle) {
  const auto it = entries_.find(handle.serial);
  if (it == entries_.end()) return false;
  const uint64_t id = it->second.id;
  entries_.erase(it);
  // Ids are unique among registrations, and a hold keeps its keycode while
  // the grab moves to another under a new keyboard mapping.
  return held_.release_unless([id](unsigned, uint64_t held_id) { return held_id != id; }) != 0;
}

const std::pair<const uint64_t, GrabTable::Entry>* GrabTable::match(unsigned keycode, unsigned modifiers) const {
  for (const auto& pair : entries_)
    if (pair.second.grab.keycode == keycode && pair.second.grab.modifiers == modifiers) return &pair;
  return nullptr;
}

bool GrabTable::press(unsigned keycode, unsigned state, unsigned lock_bits) {
  if (held_.is_held(keycode)) return false;  // auto-repeat of a held hot key
  const auto* entry = match(keycode, state & ~lock_bits & 0xFFu);
  return entry && held_.press(keycode, entry->second.id);
}

std::string X11Registrar::normalize(const std::string& text) { return normalize_accelerator(text); }

Result<X11Grab> X11Registrar::resolve(const std::string& text) const {
  auto parsed = parse_accelerator(text);
  if (!parsed) return std::move(parsed).error();
  const unsigned keycode = positions_.keycode(parsed->usage);  // the key's position, whatever the layout
  if (keycode == 0) {
    const model::KeyRow* row = model::key_by_usage(parsed->usage);
    return KmxError::backend("no X11 keycode for key " + std::string(row ? row->name : "?") + " on this keyboard");
  }
  return X11Grab{keycode, parsed->modifiers, locks_, xi_keyboard_};
}

// The keyboard freezes when a grab activates: keys typed in the same burst
// as the hot key wait in the server instead of going to this client, and
// reach the focused window once the worker hands the keyboard back.
X11Registrar::Pending X11Registrar::send_grab(const X11Grab& grab) {
  xcb_connection_t* c = XGetXCBConnection(display_);
  Pending pending{grab, {}, {}};
  std::vector<uint32_t> modifiers;
  for (unsigned variant : lock_variants(grab.locks)) modifiers.push_back(grab.modifiers | variant);
  // Every screen's root: a passive grab fires only for focus windows below it.
  for (const xcb_window_t root : roots(display_)) {
    for (uint32_t mods : modifiers)
      pending.core.push_back(xcb_grab_key_checked(c, 0, root, static_cast<uint16_t>(mods),
                                                  static_cast<xcb_keycode_t>(grab.keycode), XCB_GRAB_MODE_ASYNC,
                                                  XCB_GRAB_MODE_SYNC));
    if (grab.xi_device != 0) {
      const uint32_t mask = XCB_INPUT_XI_EVENT_MASK_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_KEY_RELEASE;
      pending.xi.push_back(xcb_input_xi_passive_grab_device(
          c, XCB_CURRENT_TIME, root, XCB_NONE, grab.keycode, static_cast<xcb_input_device_id_t>(grab.xi_device),
          static_cast<uint16_t>(modifiers.size()), 1, XCB_INPUT_GRAB_TYPE_KEYCODE, XCB_INPUT_GRAB_MODE_22_SYNC,
          XCB_INPUT_GRAB_MODE_22_ASYNC, XCB_INPUT_GRAB_OWNER_NO_OWNER, &mask, modifiers.data()));
    }
  }
  return pending;
}

int X11Registrar::collect(Pending& pending) {
  xcb_connection_t* c = XGetXCBConnection(display_);
  RequestBatch core(display_);
  for (const xcb_void_cookie_t& cookie : pending.core) core.add(cookie);
  int code = core.check();
  for (const auto& cookie : pending.xi) {
    xcb_generic_error_t* error = nullptr;
    xcb_input_xi_passive_grab_device_reply_t* reply = xcb_input_xi_passive_grab_device_reply(c, cookie, &error);
    // The server lists the modifier combinations it could not grab.
    if (code == 0 && reply && reply->num_modifiers > 0) code = BadAccess;
    if (code == 0 && error) code = error->error_code;
    if (code == 0 && !reply) code = RequestBatch::LOST;
    std::free(reply);
    std::free(error);
  }
  // Some variants may be ours now; ungrabbing never touches other clients' grabs.
  if (code != 0) send_ungrab(pending.grab, ungrabs_);
  return code;
}

void X11Registrar::send_ungrab(const X11Grab& grab, RequestBatch& batch) {
  xcb_connection_t* c = batch.connection();
  std::vector<uint32_t> modifiers;
  for (unsigned variant : lock_variants(grab.locks)) modifiers.push_back(grab.modifiers | variant);
  for (const xcb_window_t root : roots(display_)) {
    for (uint32_t mods : modifiers)
      batch.add(xcb_ungrab_key_checked(c, static_cast<xcb_keycode_t>(grab.keycode), root, static_cast<uint16_t>(mods)));
    if (grab.xi_device != 0)
      batch.add(xcb_input_xi_passive_ungrab_device_checked(
          c, root, grab.keycode, static_cast<xcb_input_device_id_t>(grab.xi_device),
          static_cast<uint16_t>(modifiers.size()), XCB_INPUT_GRAB_TYPE_KEYCODE, modifiers.data()));
  }
}

KmxError X11Registrar::grab_error(Display* display, int code) {
  if (code == BadAccess) return KmxError::backend("hotkey already registered");
  if (code == RequestBatch::LOST) return lost_error(display);
  return KmxError::backend("XGrabKey failed: " + error_text(display, code));
}

void X11Registrar::prefetch(const model::ShortcutList& shortcuts) {
  std::vector<Pending> sent;
  for (const model::Shortcut& shortcut : shortcuts) {
    auto grab = resolve(shortcut.accelerator);
    if (!grab) continue;  // its registration reports the error
    const std::pair<unsigned, unsigned> key{grab->keycode, grab->modifiers};
    // Combinations held already (kept or moved to a new id) and a second
    // accelerator naming the same grab take the one-by-one road.
    if (table_.contains(key.first, key.second) || prefetched_.count(key)) continue;
    prefetched_[key] = {*grab, 0};
    sent.push_back(send_grab(*grab));
  }
  for (Pending& pending : sent) prefetched_[{pending.grab.keycode, pending.grab.modifiers}].second = collect(pending);
}

Result<GrabHandle> X11Registrar::register_hotkey(const std::string& text, uint64_t id) {
  auto grab = resolve(text);
  if (!grab) return std::move(grab).error();
  // Two accelerators can name one grab (keysyms sharing a keycode); X would
  // let this client grab it twice without complaint.
  if (table_.contains(grab->keycode, grab->modifiers)) return KmxError::backend("hotkey already registered");

  int code = 0;
  if (auto it = prefetched_.find({grab->keycode, grab->modifiers}); it != prefetched_.end()) {
    code = it->second.second;
    prefetched_.erase(it);
  } else {
    Pending pending = send_grab(*grab);
    code = collect(pending);
  }
  if (code != 0) return grab_error(display_, code);
  return table_.add(*grab, id, text);
}

hotkeys::ReleaseResult<GrabHandle> X11Registrar::release(GrabHandle handle) {
  const GrabTable::Entry* entry = table_.find(handle);
  if (!entry) return hotkeys::ReleaseResult<GrabHandle>::released();
  send_ungrab(entry->grab, ungrabs_);
  table_.remove(handle);
  return hotkeys::ReleaseResult<GrabHandle>::released();
}

void X11Registrar::finish() {
  for (const auto& [key, result] : prefetched_)
    if (result.second == 0) send_ungrab(result.first, ungrabs_);
  prefetched_.clear();
  const int code = ungrabs_.check();
  if (code != 0 && code != RequestBatch::LOST)
    std::fprintf(stderr, "[keymux] X11 ungrab failed: %s\n", error_text(display_, code).c_str());
}

bool X11Registrar::grabs_current() const {
  for (const auto& [serial, entry] : table_.entries()) {
    const auto grab = resolve(entry.accelerator);
    if (!grab || grab->keycode != entry.grab.keycode || grab->locks != entry.grab.locks) return false;
  }
  return true;
}

void X11Registrar::regrab_all() {
  for (auto& [serial, entry] : table_.entries()) send_ungrab(entry.grab, ungrabs_);
  finish();
  std::vector<std::pair<uint64_t, Pending>> sent;
  for (auto& [serial, entry] : table_.entries()) {
    auto grab = resolve(entry.accelerator);
    if (!grab) {
      std::fprintf(stderr, "[keymux] X11 hotkey %s cannot be grabbed again: %s\n", entry.accelerator.c_str(),
                   grab.error().display().c_str());
      continue;
    }
    entry.grab = *grab;
    sent.emplace_back(serial, send_grab(*grab));
  }
  for (auto& [serial, pending] : sent) {
    if (const int code = collect(pending); code != 0)
      std::fprintf(stderr, "[keymux] X11 hotkey %s cannot be grabbed again: %s\n",
                   table_.entries()[serial].accelerator.c_str(), grab_error(display_, code).display().c_str());
  }
  finish();
}

}  // namespace kmx::platform::x11
