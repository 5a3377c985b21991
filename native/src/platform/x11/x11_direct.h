// The host-thread side of the backend: its own display connection, used
// behind a mutex by chords and key-state queries.
#pragma once

#include <memory>
#include <mutex>

#include "platform/linux/linux_backends.h"
#include "platform/x11/injection_ledger.h"
#include "platform/x11/x11_display.h"
#include "platform/x11/x11_keymap.h"

namespace kmx::platform::x11 {

// The X11 half of the Linux direct context.
struct DirectContext {
  DirectContext(Display* d, bool xtest, std::shared_ptr<InjectionLedger> l)
      : display(d), has_xtest(xtest), ledger(std::move(l)), positions(d) {}
  ~DirectContext() { close_display(display); }
  DirectContext(const DirectContext&) = delete;
  DirectContext& operator=(const DirectContext&) = delete;

  std::mutex mu;  // guards every use of display
  Display* display;
  const bool has_xtest;
  std::shared_ptr<InjectionLedger> ledger;  // shared with the worker's raw input
  KeyPositions positions;                   // usages to keycodes, as the hot keys resolve them
};

}  // namespace kmx::platform::x11
