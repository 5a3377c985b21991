// An eventcount: lets a consumer sleep until "something changed" without
// producers ever taking a lock.
//
// Consumer:  key = prepare_wait(); re-check the condition;
//            if still unmet: wait(key, deadline) else cancel_wait().
// Producer:  publish the change with a seq_cst atomic operation, then
//            notify().
//
// One word holds the number of registered waiters and a "pending" bit; a
// second, 32-bit word is what waiters sleep on (a futex where there is one),
// and notify() moves it. Dekker's pattern on seq_cst operations: a waiter
// reads the sleeping word and registers (one read-modify-write) before it
// re-checks, the producer publishes before it reads the registration, so
// in their single total order either the producer sees the waiter or the
// waiter sees the change. A notify that finds waiters sets "pending";
// until the next registration clears it, every later notify returns after
// one load, since all registered waiters are already due to wake. Nobody
// registered also costs the producer one load. A producer never takes a
// lock, and calls the system only when a waiter may be in its sleep (a
// waiter registered but still re-checking costs it two atomic operations).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>

#include "queue/sync.h"

namespace kmx::queue {

template <class Sync>
class BasicEventCount {
 public:
  using Clock = typename Sync::Clock;

  // The key is read before registering. Read after, it could already count
  // a notify that set PENDING between the two (seeing this waiter) and
  // moved the word: the waiter would then sleep on the moved word, and
  // every later notify would find PENDING set and return.
  // Read before, any notify whose move the key counts set PENDING (or
  // returned early on it) before this registration, so its change was
  // published before the re-check that follows. PENDING, cleared here, is
  // set again only by a notify that sees this waiter and then moves the
  // word past the key.
  uint64_t prepare_wait() noexcept {
    const uint64_t key = word_.load(std::memory_order_seq_cst);
    uint64_t s = state_.load(std::memory_order_relaxed);
    while (!state_.compare_exchange_weak(s, (s + WAITER) & ~PENDING, std::memory_order_seq_cst,
                                         std::memory_order_relaxed)) {
    }
    return key;
  }

  void cancel_wait() noexcept { state_.fetch_sub(WAITER, std::memory_order_acq_rel); }

  // Sleeps until notify() moved the word past key, or the deadline passed
  // (no deadline: forever). Returns false on time-out. Ends the wait either way.
  bool wait(uint64_t key, std::optional<typename Clock::time_point> deadline) {
    const auto expected = static_cast<uint32_t>(key);
    bool woken = true;
    while (word_.load(std::memory_order_seq_cst) == expected) {
      if (deadline && Sync::now() >= *deadline) {
        woken = false;
        break;
      }
      // Counted while it may sleep, so that a notify pays for the wake call
      // only when somebody can be asleep, not for every registration.
      sleepers_.fetch_add(1, std::memory_order_seq_cst);
      Sync::wait_on_word(word_, expected, deadline);
      sleepers_.fetch_sub(1, std::memory_order_relaxed);
    }
    cancel_wait();
    return woken;
  }

  void notify() noexcept {
    uint64_t s = state_.load(std::memory_order_seq_cst);
    for (;;) {
      if ((s & WAITER_MASK) == 0 || (s & PENDING) != 0) return;
      if (state_.compare_exchange_weak(s, s | PENDING, std::memory_order_seq_cst, std::memory_order_seq_cst)) break;
    }
    word_.fetch_add(1, std::memory_order_seq_cst);
    // A sleeper counted after this load reads the new word before it sleeps.
    if (sleepers_.load(std::memory_order_seq_cst) == 0) return;
    // A waiter that registers after the exchange above re-checks after it
    // and sees what this notify announces, so a lone waiter then is the only
    // one that needs waking.
    Sync::wake_word(word_, (s & WAITER_MASK) != WAITER);
  }

 private:
  static constexpr uint64_t PENDING = 1;
  static constexpr uint64_t WAITER = 2;
  static constexpr uint64_t WAITER_MASK = ~PENDING;

  typename Sync::template Atomic<uint64_t> state_{0};
  typename Sync::template Atomic<uint32_t> word_{0};
  typename Sync::template Atomic<uint32_t> sleepers_{0};
};

using EventCount = BasicEventCount<StdSync>;

}  // namespace kmx::queue
