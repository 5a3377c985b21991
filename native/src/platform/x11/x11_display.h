// Display connections, the synchronous error trap and the lock modifiers.
#pragma once

#include <string>
#include <vector>

#include "error/result.h"
#include "platform/x11/x11_xlib.h"

namespace kmx::platform::x11 {

// The display a connection opens: $DISPLAY, as Xlib reads it.
std::string display_label();

// Opens a connection or fails with Backend naming the display.
Result<Display*> open_display();

// Xlib reports protocol errors asynchronously through one process-wide
// handler. An ErrorTrap catches the errors of one display for its lifetime:
// it installs a handler that records them (forwarding other displays'
// errors to the handler it replaced) and restores the previous handler at
// the end. Traps are serialised process-wide; they never nest.
class ErrorTrap {
 public:
  explicit ErrorTrap(Display* display);
  ~ErrorTrap();
  ErrorTrap(const ErrorTrap&) = delete;
  ErrorTrap& operator=(const ErrorTrap&) = delete;

  // Waits until the server has processed every request so far. Returns the
  // first error code recorded since the last call (0: none) and clears it.
  int sync();

 private:
  Display* display_;
};

// "BadAccess (attempt to access private resource denied)"-style text.
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

// Every combination of the given lock bits, 0 first.
std::vector<unsigned> lock_variants(unsigned lock_bits);

// Handles MappingNotify events waiting on a connection nobody else reads.
void drain_mapping_events(Display* display);

}  // namespace kmx::platform::x11
