// The synchronisation the pipes are written over: atomics, a mutex, sleeping
// on a word, the clock and yielding. The library instantiates them with
// StdSync alone; a test substitutes an instrumented policy with the same
// members to drive every interleaving of the pipes' atomic operations.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

#include "queue/wait_word.h"

namespace kmx::queue {

struct StdSync {
  template <class T>
  using Atomic = std::atomic<T>;
  using Mutex = std::mutex;
  using Clock = std::chrono::steady_clock;

  static Clock::time_point now() noexcept { return Clock::now(); }
  static void yield() noexcept { std::this_thread::yield(); }
  static void wait_on_word(const Atomic<uint32_t>& word, uint32_t expected,
                           std::optional<Clock::time_point> deadline) noexcept {
    queue::wait_on_word(word, expected, deadline);
  }
  static void wake_word(const Atomic<uint32_t>& word, bool all) noexcept { queue::wake_word(word, all); }
};

}  // namespace kmx::queue
