// The latest-motion slot with its one-token doorbell. Drag motion arrives
// far faster than a host may poll, so only the newest sample is kept.
//
// A stored motion is marked with the event queue's position at that moment:
// events claimed before it go first, events pushed after it (a drag's button
// release) go after it. A newer sample replaces the slot and its mark.
//
// The token is set and cleared only under the slot's mutex, together with
// the slot: outside store and take, "token present" means "a motion waits".
// Clearing it after the mutex (as a plain swap-then-clear would) lets a
// store slip in between whose ring is swallowed, leaving its motion in the
// slot while every poller sleeps.
#pragma once

#include <keymux/keymux.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "queue/channel.h"
#include "queue/event_count.h"
#include "queue/sync.h"

namespace kmx::platform {

template <class Sync>
class BasicMotionChannel {
  using Lock = std::lock_guard<typename Sync::Mutex>;
  using Events = queue::ChannelState<KmxEvent, Sync>;

 public:
  // Ordered against that event queue and woken by its notifier, so a poller can wait on both.
  explicit BasicMotionChannel(std::shared_ptr<Events> events) : s_(std::make_shared<State>()) {
    s_->notifier = events->notifier;
    s_->events = std::move(events);
  }
  // Stand-alone: a slot of its own, ordered against nothing.
  BasicMotionChannel() : s_(std::make_shared<State>()) {
    s_->notifier = std::make_shared<queue::BasicEventCount<Sync>>();
  }

  static constexpr uint64_t NO_MOTION = queue::MpscQueue<KmxEvent, Sync>::NO_BOUND;

  // Replaces the slot's content; true when an older motion was still waiting.
  bool store(const KmxEvent& event) const {
    bool replaced;
    bool ring;
    {
      Lock lock(s_->mu);
      replaced = s_->slot.has_value();
      s_->slot = event;
      ++s_->stores;
      // Before this store returns, so that an event its caller pushes next
      // is claimed at or after the mark.
      s_->mark.store(s_->events ? s_->events->queue.claimed() : 0, std::memory_order_seq_cst);
      ring = !s_->token.exchange(true, std::memory_order_seq_cst);
    }
    if (ring) s_->notifier->notify();
    return replaced;
  }

  struct Taken {
    KmxEvent event;
    uint64_t generation;  // stores so far, for put_back
    uint64_t mark;        // queue position when stored: events from there on go after it
  };
  // Takes the slot's content, leaving it empty, and clears the doorbell.
  std::optional<Taken> take() const {
    Lock lock(s_->mu);
    if (!s_->slot) return std::nullopt;
    Taken out{*s_->slot, s_->stores, s_->mark.load(std::memory_order_relaxed)};
    s_->slot.reset();
    s_->mark.store(NO_MOTION, std::memory_order_seq_cst);
    s_->token.store(false, std::memory_order_seq_cst);
    return out;
  }

  // Returns a motion that take() handed out but the poller could not
  // deliver yet (an event queued before it goes first). Dropped when a
  // store came since: the slot then holds or delivered a newer one.
  void put_back(const Taken& taken) const {
    bool ring = false;
    {
      Lock lock(s_->mu);
      if (s_->stores != taken.generation) return;
      s_->slot = taken.event;
      s_->mark.store(taken.mark, std::memory_order_seq_cst);
      ring = !s_->token.exchange(true, std::memory_order_seq_cst);
    }
    if (ring) s_->notifier->notify();
  }

  // The waiting motion's mark, NO_MOTION when the slot is empty. Events at
  // or past it must wait for the motion.
  uint64_t mark() const noexcept { return s_->mark.load(std::memory_order_seq_cst); }

  // Consumes the doorbell token; true when there was one.
  bool take_token() const noexcept { return s_->token.exchange(false, std::memory_order_seq_cst); }
  // Whether a motion waits in the slot.
  bool pending() const {
    Lock lock(s_->mu);
    return s_->slot.has_value();
  }

  queue::BasicEventCount<Sync>& notifier() const noexcept { return *s_->notifier; }

 private:
  struct State {
    typename Sync::Mutex mu;
    std::optional<KmxEvent> slot;
    uint64_t stores = 0;
    typename Sync::template Atomic<bool> token{false};
    typename Sync::template Atomic<uint64_t> mark{NO_MOTION};
    std::shared_ptr<queue::BasicEventCount<Sync>> notifier;
    std::shared_ptr<Events> events;
  };
  std::shared_ptr<State> s_;
};

extern template class BasicMotionChannel<queue::StdSync>;
using MotionChannel = BasicMotionChannel<queue::StdSync>;

}  // namespace kmx::platform
