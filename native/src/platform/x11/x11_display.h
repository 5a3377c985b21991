// Display connections, checked requests and the lock modifiers.
#pragma once

#include <string>
#include <vector>

#include "error/result.h"
#include "platform/x11/x11_xlib.h"

namespace kmx::platform::x11 {

// The display a connection opens: $DISPLAY, as Xlib reads it.
std::string display_label();
// The display an open connection talks to, quoted.
std::string display_label(Display* display);

// Opens a connection or fails at once with Backend naming the display. A
// lost server never ends the process through this connection: Xlib's exit
// is replaced by a handler that returns, and the connection reads as lost.
// The first call installs a process-wide I/O error handler that keeps quiet
// for the library's connections and forwards the others to the one it found.
Result<Display*> open_display();
// Closes a connection open_display gave. Xlib is not called on a lost one.
void close_display(Display* display);

// True once the connection's server has gone (or the stream broke). Asks
// XCB only, so it is safe on a lost connection, where no Xlib call is.
bool connection_lost(Display* display);
// Backend "lost the connection to X11 display ":4"".
KmxError lost_error(Display* display);

// Waits for checked requests sent on one connection. Every request is sent
// before the first check, so the whole batch costs one round trip. Errors
// go to the caller only, never to Xlib's process-wide error handler.
class RequestBatch {
 public:
  static constexpr int LOST = -1;

  explicit RequestBatch(Display* display) : display_(display) {}
  xcb_connection_t* connection() const { return XGetXCBConnection(display_); }
  void add(xcb_void_cookie_t cookie) { cookies_.push_back(cookie); }
  // The first error code of the batch, 0 when every request succeeded,
  // LOST when the connection is gone. The batch is empty afterwards.
  int check();

 private:
  Display* display_;
  std::vector<xcb_void_cookie_t> cookies_;
};

// "BadAccess (attempt to access private resource denied)"-style text, or the
// lost-connection text for RequestBatch::LOST.
std::string error_text(Display* display, int code);

// The modifier bits of Caps Lock, Num Lock and Scroll Lock on this display
// (0 for a lock key that is not mapped to a modifier).
struct LockMasks {
  unsigned caps = 0;
  unsigned num = 0;
  unsigned scroll = 0;
  unsigned all() const { return caps | num | scroll; }
};
LockMasks lock_masks(Display* display);

// The root window of every screen of the display, in screen order.
std::vector<xcb_window_t> roots(Display* display);

// Every combination of the given lock bits, 0 first.
std::vector<unsigned> lock_variants(unsigned lock_bits);

// Handles MappingNotify events waiting on a connection nobody else reads.
void drain_mapping_events(Display* display);

// Blocks SIGPIPE on the calling thread for its lifetime and takes back a
// SIGPIPE that a write to a dead server raised meanwhile, so that the host
// never sees it whatever its own disposition.
class SigpipeGuard {
 public:
  SigpipeGuard();
  ~SigpipeGuard();
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;

 private:
  bool was_pending_ = false;
  bool was_blocked_ = false;
};

// For the worker thread: SIGPIPE stays blocked there for good. A signal a
// write raises is directed to the writing thread, so it stays pending there.
void block_sigpipe_on_this_thread();

}  // namespace kmx::platform::x11
