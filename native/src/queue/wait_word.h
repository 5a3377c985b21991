// Sleeping on a 32-bit word, the way a futex does: wait_on_word returns
// once the word may differ from `expected` (it re-checks it atomically with
// going to sleep), once woken, or at the deadline (none: never). It may
// also return early for no reason; callers loop. The operating system's
// primitive is picked by the build (futex, WaitOnAddress, or a fallback of
// condition variables).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>

namespace kmx::queue {

void wait_on_word(const std::atomic<uint32_t>& word, uint32_t expected,
                  std::optional<std::chrono::steady_clock::time_point> deadline) noexcept;

// Wakes one or every thread sleeping on the word; call it after changing it.
void wake_word(const std::atomic<uint32_t>& word, bool all) noexcept;

}  // namespace kmx::queue
