// An eventcount: lets a consumer sleep until "something changed" without
// producers ever taking a lock unless a consumer is actually asleep.
//
// Consumer:  key = prepare_wait(); re-check the condition;
//            if still unmet: wait(key, deadline) else cancel_wait().
// Producer:  publish the change with a seq_cst atomic operation, then
//            notify().
//
// Dekker's pattern on seq_cst operations: the waiter increments waiters_
// before it re-checks, the producer publishes before it reads waiters_, so
// in their single total order either the producer sees the waiter or the
// waiter sees the change. The common case, nobody asleep, costs the
// producer one plain load.
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
    waiters_.fetch_add(1, std::memory_order_seq_cst);
    return epoch_.load(std::memory_order_acquire);
  }

  void cancel_wait() noexcept { waiters_.fetch_sub(1, std::memory_order_acq_rel); }

  // Sleeps until notify() moved the epoch past key, or the deadline passed
  // (no deadline: forever). Returns false on time-out. Ends the wait either way.
  bool wait(uint64_t key, std::optional<Clock::time_point> deadline) {
    bool woken = true;
    {
      std::unique_lock lock(mu_);
      while (epoch_.load(std::memory_order_seq_cst) == key) {
        if (!deadline) {
          cv_.wait(lock);
        } else if (cv_.wait_until(lock, *deadline) == std::cv_status::timeout &&
                   epoch_.load(std::memory_order_seq_cst) == key) {
          woken = false;
          break;
        }
      }
    }
    waiters_.fetch_sub(1, std::memory_order_acq_rel);
    return woken;
  }

  void notify() noexcept {
    if (waiters_.load(std::memory_order_seq_cst) == 0) return;
    {
      std::lock_guard lock(mu_);
      epoch_.fetch_add(1, std::memory_order_seq_cst);
    }
    cv_.notify_all();
  }

 private:
  std::atomic<uint32_t> waiters_{0};
  std::atomic<uint64_t> epoch_{0};
  std::mutex mu_;
  std::condition_variable cv_;
};

}  // namespace kmx::queue
