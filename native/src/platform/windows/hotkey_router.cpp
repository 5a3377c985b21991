#include "platform/windows/hotkey_router.h"

#include <atomic>
#include <utility>

namespace kmx::platform::windows {

namespace {

struct Slot {
  queue::Sender<HotkeyEdge> edges;
  HANDLE wake = nullptr;
};

std::atomic<uint8_t> LOCK{0};
Slot SLOT;

class SpinGuard {
 public:
  SpinGuard() noexcept {
    uint8_t expected = 0;
    while (!LOCK.compare_exchange_weak(expected, 1, std::memory_order_acquire, std::memory_order_relaxed)) {
      expected = 0;
      ::YieldProcessor();
    }
  }
  ~SpinGuard() {
    uint8_t expected = 1;
    LOCK.compare_exchange_strong(expected, 0, std::memory_order_release, std::memory_order_relaxed);
  }
  SpinGuard(const SpinGuard&) = delete;
  SpinGuard& operator=(const SpinGuard&) = delete;
};

void drop(Slot old) noexcept {
  if (old.wake != nullptr) ::CloseHandle(old.wake);
}

}  // namespace

Result<HANDLE> duplicate_event(HANDLE event) {
  if (event == nullptr) return KmxError::backend("cannot duplicate an invalid event handle");
  HANDLE process = ::GetCurrentProcess();
  HANDLE copy = nullptr;
  if (!::DuplicateHandle(process, event, process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS) || copy == nullptr)
    return KmxError::backend("DuplicateHandle failed");
  return copy;
}

void HotkeyRouter::fill(queue::Sender<HotkeyEdge> edges, HANDLE wake) noexcept {
  Slot old;
  {
    SpinGuard guard;
    old = std::exchange(SLOT, Slot{std::move(edges), wake});
  }
  drop(std::move(old));
}

void HotkeyRouter::clear() noexcept {
  Slot old;
  {
    SpinGuard guard;
    old = std::exchange(SLOT, Slot{});
  }
  drop(std::move(old));
}

void HotkeyRouter::route(uint32_t id, bool pressed) noexcept {
  SpinGuard guard;
  if (SLOT.wake == nullptr) return;
  SLOT.edges.send(HotkeyEdge{id, pressed});
  ::SetEvent(SLOT.wake);
}

}  // namespace kmx::platform::windows
