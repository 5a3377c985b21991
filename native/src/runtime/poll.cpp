#include "runtime/poll.h"

namespace kmx::runtime {

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
