// Process-wide routing of hot-key edges to the running backend thread. The
// hot-key handler may run on the backend thread or on a release watcher, so
// it never touches backend state: it queues the edge and signals the
// backend's wake event. A one-byte spin lock guards the slot.
#pragma once

#include <windows.h>

#include <cstdint>

#include "error/result.h"
#include "queue/channel.h"

namespace kmx::platform::windows {

struct HotkeyEdge {
  uint32_t id;
  bool pressed;
};

// A duplicate of event made in this process with the same access.
Result<HANDLE> duplicate_event(HANDLE event);

class HotkeyRouter {
 public:
  // Takes ownership of wake (closed when replaced or cleared).
  static void fill(queue::Sender<HotkeyEdge> edges, HANDLE wake) noexcept;
  static void clear() noexcept;
  // The handler of the hot-key manager: queue and wake, or drop when empty.
  static void route(uint32_t id, bool pressed) noexcept;
};

}  // namespace kmx::platform::windows
