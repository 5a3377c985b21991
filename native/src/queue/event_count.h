// An eventcount: lets a consumer sleep until "something changed" without
// producers ever taking a lock unless a consumer is actually asleep.
//
// Consumer:  key = prepare_wait(); re-check the condition;
//            if still unmet: wait(key, deadline) else cancel_wait().
// Producer:  publish the change with a seq_cst atomic operation, then
//            notify().
//
// One word holds the epoch, the number of registered waiters and a
// "pending" bit. Dekker's pattern on seq_cst operations: a waiter registers
// (one read-modify-write of the word, which also yields its key) before it
// re-checks, the producer publishes before it reads the word, so in their
// single total order either the producer sees the waiter or the waiter sees
// the change. A notify that finds waiters moves the epoch and sets
// "pending"; until the next registration clears it, every later notify
// returns after one load, since all registered waiters are already due to
// wake. Nobody registered also costs the producer one load.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>

namespace kmx::queue {

class EventCount {
 public:
  using Clock = std::chrono::steady_clock;

  uint64_t prepare_wait() noexcept {
    uint64_t s = state_.load(std::memory_order_relaxed);
    while (!state_.compare_exchange_weak(s, (s + WAITER) & ~PENDING, std::memory_order_seq_cst,
                                         std::memory_order_relaxed)) {
    }
    return s >> EPOCH_SHIFT;
  }

  void cancel_wait() noexcept { state_.fetch_sub(WAITER, std::memory_order_acq_rel); }

  // Sleeps until notify() moved the epoch past key, or the deadline passed
  // (no deadline: forever). Returns false on time-out. Ends the wait either way.
  bool wait(uint64_t key, std::optional<Clock::time_point> deadline) {
    bool woken = true;
    if (!deadline) {
      std::unique_lock lock(mu_);
      while (epoch() == key) cv_.wait(lock);
    } else {
      std::unique_lock lock(mu_);
      while (epoch() == key) {
        if (cv_.wait_until(lock, *deadline) == std::cv_status::timeout && epoch() == key) {
          woken = false;
          break;
        }
      }
    }
    cancel_wait();
    return woken;
  }

  void notify() noexcept {
    uint64_t s = state_.load(std::memory_order_seq_cst);
    for (;;) {
      if ((s & WAITER_MASK) == 0 || (s & PENDING) != 0) return;
      if (state_.compare_exchange_weak(s, (s + EPOCH_ONE) | PENDING, std::memory_order_seq_cst,
                                       std::memory_order_seq_cst)) {
        break;
      }
    }
    // A waiter checks the epoch under the mutex: once we held it, each one
    // either saw the new epoch or is inside the condition variable's wait.
    // A lone registered waiter is the only thread that can be in there.
    { std::lock_guard lock(mu_); }
    if ((s & WAITER_MASK) == WAITER) {
      cv_.notify_one();
    } else {
      cv_.notify_all();
    }
  }

 private:
  static constexpr uint64_t PENDING = 1;
  static constexpr uint64_t WAITER = 2;
  static constexpr unsigned EPOCH_SHIFT = 21;  // up to 2^20 - 1 waiters
  static constexpr uint64_t WAITER_MASK = ((uint64_t{1} << EPOCH_SHIFT) - 1) & ~PENDING;
  static constexpr uint64_t EPOCH_ONE = uint64_t{1} << EPOCH_SHIFT;

  uint64_t epoch() const noexcept { return state_.load(std::memory_order_seq_cst) >> EPOCH_SHIFT; }

  std::atomic<uint64_t> state_{0};
  std::mutex mu_;
  std::condition_variable cv_;
};

}  // namespace kmx::queue
