// Windows 8 and later: WaitOnAddress. Its time-out is relative, in
// milliseconds, so it is taken from the deadline again on every call.
#include <windows.h>

#include "queue/wait_word.h"

namespace kmx::queue {

void wait_on_word(const std::atomic<uint32_t>& word, uint32_t expected,
                  std::optional<std::chrono::steady_clock::time_point> deadline) noexcept {
  DWORD ms = INFINITE;
  if (deadline) {
    const auto left = *deadline - std::chrono::steady_clock::now();
    if (left <= left.zero()) return;
    // Rounded up: a wait that ends a little early only loops again.
    const auto whole = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    ms = whole >= static_cast<long long>(INFINITE) ? INFINITE - 1 : static_cast<DWORD>(whole);
  }
  WaitOnAddress(const_cast<std::atomic<uint32_t>*>(&word), &expected, sizeof expected, ms);
}

void wake_word(const std::atomic<uint32_t>& word, bool all) noexcept {
  void* address = const_cast<std::atomic<uint32_t>*>(&word);
  if (all) {
    WakeByAddressAll(address);
  } else {
    WakeByAddressSingle(address);
  }
}

}  // namespace kmx::queue
