#include "platform/x11/x11_keymap.h"

#include <cstring>

#include "model/keys.h"

namespace kmx::platform::x11 {

namespace {

constexpr unsigned EVDEV_OFFSET = 8;

}  // namespace

KeyPositions::KeyPositions(Display* display) : display_(display) {
  int opcode = 0, event_base = 0, error_base = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
  if (XkbQueryExtension(display_, &opcode, &event_base, &error_base, &major, &minor)) {
    xkb_event_ = event_base;
    constexpr unsigned long NOTICES = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
    XkbSelectEvents(display_, XkbUseCoreKbd, NOTICES, NOTICES);
  }
  refresh();
  // The selection must reach the server now: a change made between this
  // first reading and the next request would otherwise go unnoticed.
  XFlush(display_);
}

void KeyPositions::refresh() {
  stale_ = false;
  XDisplayKeycodes(display_, &min_keycode_, &max_keycode_);
  evdev_ = false;
  if (xkb_event_ < 0) return;
  XkbDescPtr xkb = XkbGetMap(display_, 0, XkbUseCoreKbd);
  if (!xkb) return;
  if (XkbGetNames(display_, XkbKeyNamesMask, xkb) == Success && xkb->names && xkb->names->keys) {
    evdev_ = names_are_evdev([xkb](unsigned keycode) {
      if (keycode < xkb->min_key_code || keycode > xkb->max_key_code) return std::string();
      const char* name = xkb->names->keys[keycode].name;
      return std::string(name, strnlen(name, XkbKeyNameLength));
    });
  }
  XkbFreeKeyboard(xkb, 0, True);
}

bool KeyPositions::by_position() {
  if (stale_) refresh();
  return evdev_;
}

unsigned KeyPositions::keycode(uint32_t usage) {
  const model::KeyRow* row = model::any_by_usage(usage);
  if (!row) return 0;
  if (by_position()) {
    const unsigned code = row->evdev_code + EVDEV_OFFSET;
    const bool present = code >= static_cast<unsigned>(min_keycode_) && code <= static_cast<unsigned>(max_keycode_);
    return present ? code : 0;
  }
  if (!row->x11_keysym) return 0;
  return XKeysymToKeycode(display_, *row->x11_keysym);
}

bool KeyPositions::on_event(XEvent& event) {
  if (event.type == MappingNotify) {
    XRefreshKeyboardMapping(&event.xmapping);
    if (event.xmapping.request == MappingPointer) return false;
    stale_ = true;
    return true;
  }
  if (xkb_event_ < 0 || event.type != xkb_event_) return false;
  auto* xkb = reinterpret_cast<XkbEvent*>(&event);
  switch (xkb->any.xkb_type) {
    case XkbMapNotify:
      XkbRefreshKeyboardMapping(&xkb->map);
      stale_ = true;
      return true;
    case XkbNewKeyboardNotify:
      stale_ = true;
      return true;
    default:
      return false;
  }
}

bool KeyPositions::take_notices() {
  bool changed = false;
  while (XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    changed |= on_event(event);
  }
  return changed;
}

}  // namespace kmx::platform::x11
