#include "runtime/poll.h"

namespace kmx::runtime {

namespace {
constexpr auto SPIN_BEFORE_SLEEP = std::chrono::microseconds(10);
}  // namespace

uint32_t poll_event(const platform::EventReceiver& events, const platform::MotionChannel& motion, KmxEvent* out,
                    uint32_t timeout_ms) {
  if (auto e = events.try_recv()) {
    *out = *e;
    return KMX_OK;
  }
  if (auto m = motion.take()) {
    *out = *m;
    return KMX_OK;
  }
  // Events come in bursts: looking again for a few microseconds spares
  // this poller a sleep and the producers the wake that would end it (a
  // wake costs the producer a system call, long enough for a poller that
  // slept at once to drain, sleep again and need the next wake).
  const auto spin_until = queue::Clock::now() + SPIN_BEFORE_SLEEP;
  for (unsigned spin = 1; timeout_ms != 0; ++spin) {
    if (auto e = events.try_recv()) {
      *out = *e;
      return KMX_OK;
    }
    if (motion.has_token() || events.senders_gone()) break;
    if (spin % 16 == 0 && queue::Clock::now() >= spin_until) break;
  }
  const queue::Deadline deadline = queue::deadline_after_ms(timeout_ms);
  queue::EventCount& notifier = events.notifier();
  for (;;) {
    const uint64_t key = notifier.prepare_wait();
    // Queued events go before a waiting motion.
    if (auto e = events.try_recv()) {
      notifier.cancel_wait();
      *out = *e;
      return KMX_OK;
    }
    if (events.senders_gone()) {
      notifier.cancel_wait();
      if (auto e = events.try_recv()) {
        *out = *e;
        return KMX_OK;
      }
      return KMX_ERR_CLOSED;
    }
    if (motion.take_token()) {
      notifier.cancel_wait();
      if (auto m = motion.take()) {
        *out = *m;
        return KMX_OK;
      }
      // A stale token: a poller took the motion between the producer's
      // store and its ring. Nothing arrived; keep waiting until the deadline.
      continue;
    }
    if (deadline && queue::Clock::now() >= *deadline) {
      notifier.cancel_wait();
      return KMX_ERR_TIMEOUT;
    }
    notifier.wait(key, deadline);
  }
}

}  // namespace kmx::runtime
