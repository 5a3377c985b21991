// macOS has no public futex before 14.4, so a word's sleepers share one of a
// few mutex and condition-variable buckets, picked by address. A waiter
// looks at the word under its bucket's mutex, and a waker takes that mutex
// after changing the word, so no wake-up falls between the look and the sleep.
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "queue/wait_word.h"

namespace kmx::queue {

namespace {

struct Bucket {
  std::mutex mu;
  std::condition_variable cv;
};

Bucket& bucket_of(const std::atomic<uint32_t>& word) {
  static Bucket buckets[16];
  return buckets[(reinterpret_cast<uintptr_t>(&word) >> 6) % 16];
}

}  // namespace

void wait_on_word(const std::atomic<uint32_t>& word, uint32_t expected,
                  std::optional<std::chrono::steady_clock::time_point> deadline) noexcept {
  Bucket& b = bucket_of(word);
  std::unique_lock lock(b.mu);
  if (word.load(std::memory_order_seq_cst) != expected) return;
  if (deadline) {
    b.cv.wait_until(lock, *deadline);
  } else {
    b.cv.wait(lock);
  }
}

void wake_word(const std::atomic<uint32_t>& word, bool) noexcept {
  // Other words may share the bucket, so every sleeper looks again.
  Bucket& b = bucket_of(word);
  { std::lock_guard lock(b.mu); }
  b.cv.notify_all();
}

}  // namespace kmx::queue
