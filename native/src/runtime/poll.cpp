#include "runtime/poll.h"

namespace kmx::runtime {

namespace {

// Takes the waiting motion, unless an event queued before it is still in
// the queue: a producer that pushed a key and then stored a motion may have
// done both after this poller's first look at the queue. The event then
// goes first and the motion back into the slot.
std::optional<KmxEvent> take_motion(const platform::EventReceiver& events, const platform::MotionChannel& motion) {
  auto taken = motion.take();
  if (!taken) return std::nullopt;
  if (auto e = events.try_recv()) {
    motion.put_back(*taken);
    return e;
  }
  return taken->event;
}

}  // namespace

uint32_t poll_event(const platform::EventReceiver& events, const platform::MotionChannel& motion, KmxEvent* out,
                    uint32_t timeout_ms) {
  if (auto e = events.try_recv()) {
    *out = *e;
    return KMX_OK;
  }
  if (auto m = take_motion(events, motion)) {
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
      if (auto m = take_motion(events, motion)) {
        *out = *m;
        return KMX_OK;
      }
      // A stale token: another poller took the motion first. Nothing
      // arrived; keep waiting until the deadline.
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
