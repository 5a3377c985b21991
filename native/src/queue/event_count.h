// An eventcount: lets a consumer sleep until "something changed" without
// producers ever taking a lock unless a consumer is actually asleep.
//
// Consumer:  key = prepare_wait(); re-check the condition;
//            if still unmet: wait(key, deadline) else cancel_wait().
// Producer:  publish the change, then notify().
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

  // Both sides touch waiters_ with a read-modify-write: RMWs of one atomic
  // are totally ordered, so either the producer sees this waiter or the
  // waiter sees everything the producer published before its notify().
  uint64_t prepare_wait() noexcept {
    waiters_.fetch_add(1, std::memory_order_acq_rel);
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
    if (waiters_.fetch_add(0, std::memory_order_acq_rel) == 0) return;
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
