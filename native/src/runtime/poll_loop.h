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

enum class Step { Got, Nothing, Unwritten };

// Takes the next event: the oldest queued one, unless the waiting motion was
// stored before it was claimed; then the motion. A motion taken while an
// older event turns out to be still queued goes back into the slot (unless
// a newer one came). Unwritten: the next event is claimed but not written
// yet, and the caller does not wait for its producer.
template <class Sync>
Step take_one(const BasicEventReceiver<Sync>& events, const platform::BasicMotionChannel<Sync>& motion,
              KmxEvent* out, bool wait_for_writer) {
  using Head = typename queue::MpscQueue<KmxEvent, Sync>::Head;
  auto& queue = events.state()->queue;
  for (;;) {
    std::optional<KmxEvent> e;
    const Head head = queue.try_pop_before([&] { return motion.mark(); }, wait_for_writer, e);
    if (head == Head::Taken) {
      *out = *e;
      return Step::Got;
    }
    if (head == Head::Unwritten) return Step::Unwritten;
    auto taken = motion.take();
    if (!taken) {
      if (head == Head::Empty) return Step::Nothing;
      continue;  // another poller took the motion that held the head back
    }
    const uint64_t mark = taken->mark;
    const Head before = queue.try_pop_before([mark] { return mark; }, wait_for_writer, e);
    if (before == Head::Taken || before == Head::Unwritten) {
      motion.put_back(*taken);
      if (before == Head::Unwritten) return Step::Unwritten;
      *out = *e;
      return Step::Got;
    }
    *out = taken->event;
    return Step::Got;
  }
}

}  // namespace detail

// A zero time-out never waits, not even for a producer between its claim
// and its write: the host's UI thread polls that way.
template <class Sync>
uint32_t basic_poll_event(const BasicEventReceiver<Sync>& events, const platform::BasicMotionChannel<Sync>& motion,
                          KmxEvent* out, uint32_t timeout_ms) {
  static thread_local bool burst_woke_last_sleep = false;
  const bool wait_for_writer = timeout_ms != 0;
  if (detail::take_one(events, motion, out, wait_for_writer) == detail::Step::Got) return KMX_OK;
  // The last sleep of this thread was cut short by a producer in the middle
  // of a burst. If that producer shares this CPU, every event would cost a
  // sleep, a wake and two switches; letting it run on once ends that.
  if (burst_woke_last_sleep && timeout_ms != 0) {
    burst_woke_last_sleep = false;
    Sync::yield();
    if (detail::take_one(events, motion, out, wait_for_writer) == detail::Step::Got) return KMX_OK;
  }
  const queue::Deadline deadline = queue::deadline_after_ms<Sync>(timeout_ms);
  auto& notifier = events.notifier();
  for (;;) {
    const uint64_t key = notifier.prepare_wait();
    const detail::Step step = detail::take_one(events, motion, out, wait_for_writer);
    if (step == detail::Step::Got) {
      notifier.cancel_wait();
      return KMX_OK;
    }
    if (step == detail::Step::Nothing && events.senders_gone()) {
      notifier.cancel_wait();
      // Nothing more can come; whatever is left, the last motion included,
      // is handed out before CLOSED, so that CLOSED is final.
      if (detail::take_one(events, motion, out, true) == detail::Step::Got) return KMX_OK;
      return KMX_ERR_CLOSED;
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
