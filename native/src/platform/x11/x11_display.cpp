#include "platform/x11/x11_display.h"

#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <set>

namespace kmx::platform::x11 {

namespace {

// Called after Xlib's I/O error handler instead of exit: the connection
// stays unusable and reads as lost, the process carries on.
void keep_running(Display*, void*) {}

std::mutex OURS_MU;
std::set<Display*>& ours() {
  static std::set<Display*> displays;
  return displays;
}
std::atomic<XIOErrorHandler> PREVIOUS_IO_HANDLER{nullptr};  // written once, before any connection of ours exists

// Xlib calls the process-wide I/O error handler before the connection's exit
// handler, and its default one exits. Ours returns for the library's own
// connections and hands every other connection to the handler it replaced.
int io_error(Display* display) {
  {
    std::lock_guard lock(OURS_MU);
    if (ours().count(display)) return 0;
  }
  const XIOErrorHandler previous = PREVIOUS_IO_HANDLER.load();
  return previous ? previous(display) : 0;
}

std::string quoted(const char* name) {
  if (!name || !*name) return "(DISPLAY is not set)";
  return std::string("\"") + name + "\"";
}

sigset_t sigpipe_set() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  return set;
}

bool sigpipe_pending() {
  sigset_t pending;
  sigemptyset(&pending);
  return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

}  // namespace

std::string display_label() { return quoted(XDisplayName(nullptr)); }

std::string display_label(Display* display) { return quoted(DisplayString(display)); }

Result<Display*> open_display() {
  static std::once_flag installed;
  std::call_once(installed, [] { PREVIOUS_IO_HANDLER.store(XSetIOErrorHandler(io_error)); });
  Display* display = XOpenDisplay(nullptr);
  if (!display) return KmxError::backend("cannot open X11 display " + display_label());
  {
    std::lock_guard lock(OURS_MU);
    ours().insert(display);
  }
  XSetIOErrorExitHandler(display, keep_running, nullptr);
  return display;
}

void close_display(Display* display) {
  if (connection_lost(display)) {
    // HACK: after an I/O error handler returns, libX11 leaves the display's
    // locks in a state where another thread's next Xlib call on it can wait
    // for ever. A lost connection is therefore never handed to Xlib again:
    // its socket is closed through XCB and the Display is kept, unused.
    static std::vector<Display*> abandoned;
    xcb_disconnect(XGetXCBConnection(display));
    std::lock_guard lock(OURS_MU);
    abandoned.push_back(display);
    return;
  }
  XCloseDisplay(display);
  std::lock_guard lock(OURS_MU);
  ours().erase(display);
}

bool connection_lost(Display* display) { return xcb_connection_has_error(XGetXCBConnection(display)) != 0; }

KmxError lost_error(Display* display) {
  return KmxError::backend("lost the connection to X11 display " + display_label(display));
}

int RequestBatch::check() {
  xcb_connection_t* c = connection();
  int first = 0;
  for (const xcb_void_cookie_t& cookie : cookies_) {
    if (xcb_generic_error_t* error = xcb_request_check(c, cookie)) {
      if (first == 0) first = error->error_code;
      std::free(error);
    }
  }
  cookies_.clear();
  // A broken connection answers every check with "no error".
  if (xcb_connection_has_error(c)) return LOST;
  return first;
}

std::string error_text(Display* display, int code) {
  if (code == RequestBatch::LOST) return lost_error(display).message();
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

std::vector<xcb_window_t> roots(Display* display) {
  std::vector<xcb_window_t> out;
  for (int screen = 0; screen < ScreenCount(display); ++screen)
    out.push_back(static_cast<xcb_window_t>(RootWindow(display, screen)));
  return out;
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

SigpipeGuard::SigpipeGuard() {
  const sigset_t set = sigpipe_set();
  sigset_t old;
  pthread_sigmask(SIG_BLOCK, &set, &old);
  was_blocked_ = sigismember(&old, SIGPIPE) == 1;
  was_pending_ = sigpipe_pending();
}

SigpipeGuard::~SigpipeGuard() {
  const sigset_t set = sigpipe_set();
  // Only a SIGPIPE raised while guarded is taken back.
  if (!was_pending_ && sigpipe_pending()) {
    const timespec zero{0, 0};
    sigtimedwait(&set, nullptr, &zero);
  }
  if (!was_blocked_) pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void block_sigpipe_on_this_thread() {
  const sigset_t set = sigpipe_set();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

}  // namespace kmx::platform::x11
