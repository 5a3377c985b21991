// Linux: the futex itself. The deadline is absolute on CLOCK_MONOTONIC,
// which is steady_clock's clock, so a wait woken early never stretches it.
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <ctime>

#include "queue/wait_word.h"

namespace kmx::queue {

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && std::atomic<uint32_t>::is_always_lock_free);

namespace {
uint32_t* address(const std::atomic<uint32_t>& word) {
  return reinterpret_cast<uint32_t*>(const_cast<std::atomic<uint32_t>*>(&word));
}
}  // namespace

void wait_on_word(const std::atomic<uint32_t>& word, uint32_t expected,
                  std::optional<std::chrono::steady_clock::time_point> deadline) noexcept {
  timespec at{};
  if (deadline) {
    const auto since = deadline->time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    at.tv_sec = static_cast<time_t>(seconds.count());
    at.tv_nsec = static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count());
    if (at.tv_sec < 0) at = {};
  }
  // EAGAIN (the word moved), EINTR and ETIMEDOUT all mean "look again".
  syscall(SYS_futex, address(word), FUTEX_WAIT_BITSET_PRIVATE, expected, deadline ? &at : nullptr, nullptr,
          FUTEX_BITSET_MATCH_ANY);
}

void wake_word(const std::atomic<uint32_t>& word, bool all) noexcept {
  syscall(SYS_futex, address(word), FUTEX_WAKE_PRIVATE, all ? INT_MAX : 1, nullptr, nullptr, 0);
}

}  // namespace kmx::queue
