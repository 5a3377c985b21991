#include "platform/x11/x11_display.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <cstdlib>
#include <mutex>

namespace kmx::platform::x11 {

namespace {

std::mutex TRAP_MU;
std::atomic<Display*> TRAPPED{nullptr};
std::atomic<XErrorHandler> PREVIOUS{nullptr};
int TRAPPED_CODE = 0;  // written by the trap's thread only: its display's errors arrive there

int trap_handler(Display* display, XErrorEvent* event) {
  if (display == TRAPPED.load(std::memory_order_acquire)) {
    if (TRAPPED_CODE == 0) TRAPPED_CODE = event->error_code;
    return 0;
  }
  const XErrorHandler previous = PREVIOUS.load(std::memory_order_acquire);
  return previous ? previous(display, event) : 0;
}

}  // namespace

std::string display_label() {
  const char* name = XDisplayName(nullptr);
  if (!name || !*name) return "(DISPLAY is not set)";
  return std::string("\"") + name + "\"";
}

Result<Display*> open_display() {
  // HACK: some X servers (Xvfb in sandboxed containers, seen here) now and
  // then reset a fresh connection during its setup. A server that refuses
  // us refuses every attempt, so a few quick retries tell the two apart.
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (Display* display = XOpenDisplay(nullptr)) return display;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return KmxError::backend("cannot open X11 display " + display_label());
}

ErrorTrap::ErrorTrap(Display* display) : display_(display) {
  TRAP_MU.lock();
  TRAPPED_CODE = 0;
  TRAPPED.store(display, std::memory_order_release);
  PREVIOUS.store(XSetErrorHandler(trap_handler), std::memory_order_release);
}

ErrorTrap::~ErrorTrap() {
  XSync(display_, False);
  XSetErrorHandler(PREVIOUS.load(std::memory_order_acquire));
  TRAPPED.store(nullptr, std::memory_order_release);
  TRAP_MU.unlock();
}

int ErrorTrap::sync() {
  XSync(display_, False);
  const int code = TRAPPED_CODE;
  TRAPPED_CODE = 0;
  return code;
}

std::string error_text(Display* display, int code) {
  char buffer[256] = {};
  XGetErrorText(display, code, buffer, sizeof buffer);
  return buffer;
}

LockMasks lock_masks(Display* display) {
  LockMasks masks;
  masks.caps = LockMask;
  XModifierKeymap* map = XGetModifierMapping(display);
  if (!map) return masks;
  const KeyCode num = XKeysymToKeycode(display, XK_Num_Lock);
  const KeyCode scroll = XKeysymToKeycode(display, XK_Scroll_Lock);
  for (int mod = 0; mod < 8; ++mod) {
    for (int k = 0; k < map->max_keypermod; ++k) {
      const KeyCode code = map->modifiermap[mod * map->max_keypermod + k];
      if (code == 0) continue;
      if (code == num) masks.num |= 1u << mod;
      if (code == scroll) masks.scroll |= 1u << mod;
    }
  }
  XFreeModifiermap(map);
  // A lock key sharing a modifier with an accelerator word would make that
  // word optional; such a mapping is left out.
  constexpr unsigned WORDS = ShiftMask | ControlMask | Mod1Mask | Mod4Mask;
  masks.num &= ~WORDS;
  masks.scroll &= ~WORDS;
  return masks;
}

std::vector<unsigned> lock_variants(unsigned lock_bits) {
  std::vector<unsigned> out;
  // Walks the subsets of lock_bits in increasing order.
  unsigned subset = 0;
  do {
    out.push_back(subset);
    subset = (subset - lock_bits) & lock_bits;
  } while (subset != 0);
  return out;
}

void drain_mapping_events(Display* display) {
  while (XPending(display) > 0) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == MappingNotify) XRefreshKeyboardMapping(&event.xmapping);
  }
}

}  // namespace kmx::platform::x11
