// The poll loop over any synchronisation policy: the library runs it on
// StdSync, a test on an instrumented one.
#pragma once

#include <keymux/keymux.h>

#include <chrono>
#include <optional>

#include "platform/motion_channel.h"
#include "queue/channel.h"

namespace kmx::runtime {

template <class Sync>
using BasicEventReceiver = queue::BasicReceiver<KmxEvent, Sync>;

namespace detail {

// Wakes closer than this after falling asleep come from a burst.
inline constexpr auto BURST_GAP = std::chrono::microseconds(20);

// Takes the waiting motion, unless an event queued before it is still in
// the queue: a producer that pushed a key and then stored a motion may have
// done both after this poller's first look at the queue. The event then
// goes first and the motion back into the slot.
template <class Sync>
std::optional<KmxEvent> take_motion(const BasicEventReceiver<Sync>& events,
                                    const platform::BasicMotionChannel<Sync>& motion) {
  auto taken = motion.take();
  if (!taken) return std::nullopt;
  if (auto e = events.try_recv()) {
    motion.put_back(*taken);
    return e;
  }
  return taken->event;
}

}  // namespace detail

template <class Sync>
uint32_t basic_poll_event(const BasicEventReceiver<Sync>& events, const platform::BasicMotionChannel<Sync>& motion,
                          KmxEvent* out, uint32_t timeout_ms) {
  static thread_local bool burst_woke_last_sleep = false;
  if (auto e = events.try_recv()) {
    *out = *e;
    return KMX_OK;
  }
  if (auto m = detail::take_motion(events, motion)) {
    *out = *m;
    return KMX_OK;
  }
  // The last sleep of this thread was cut short by a producer in the middle
  // of a burst. If that producer shares this CPU, every event would cost a
  // sleep, a wake and two switches; letting it run on once ends that.
  if (burst_woke_last_sleep && timeout_ms != 0) {
    burst_woke_last_sleep = false;
    Sync::yield();
    if (auto e = events.try_recv()) {
      *out = *e;
      return KMX_OK;
    }
  }
  const queue::Deadline deadline = queue::deadline_after_ms<Sync>(timeout_ms);
  auto& notifier = events.notifier();
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
      if (auto m = detail::take_motion(events, motion)) {
        *out = *m;
        return KMX_OK;
      }
      // A stale token: another poller took the motion first. Nothing
      // arrived; keep waiting until the deadline.
      continue;
    }
    if (deadline && Sync::now() >= *deadline) {
      notifier.cancel_wait();
      return KMX_ERR_TIMEOUT;
    }
    const auto asleep = Sync::now();
    notifier.wait(key, deadline);
    burst_woke_last_sleep = Sync::now() - asleep < detail::BURST_GAP;
  }
}

}  // namespace kmx::runtime
