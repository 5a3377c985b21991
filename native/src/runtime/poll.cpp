#include "runtime/poll.h"

#include <thread>

namespace kmx::runtime {

namespace {

// Wakes closer than this after falling asleep come from a burst.
constexpr auto BURST_GAP = std::chrono::microseconds(20);
thread_local bool burst_woke_last_sleep = false;

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
  // The last sleep of this thread was cut short by a producer in the middle
  // of a burst. If that producer shares this CPU, every event would cost a
  // sleep, a wake and two switches; letting it run on once ends that.
  if (burst_woke_last_sleep && timeout_ms != 0) {
    burst_woke_last_sleep = false;
    std::this_thread::yield();
    if (auto e = events.try_recv()) {
      *out = *e;
      return KMX_OK;
    }
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
    const auto asleep = queue::Clock::now();
    notifier.wait(key, deadline);
    burst_woke_last_sleep = queue::Clock::now() - asleep < BURST_GAP;
  }
}

}  // namespace kmx::runtime
