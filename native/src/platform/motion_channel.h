// The latest-motion slot with its one-token doorbell. Drag motion arrives
// far faster than a host may poll, so only the newest sample is kept.
//
// The token is set and cleared only under the slot's mutex, together with
// the slot: outside store and take, "token present" means "a motion waits".
// Clearing it after the mutex (as a plain swap-then-clear would) lets a
// store slip in between whose ring is swallowed, leaving its motion in the
// slot while every poller sleeps.
#pragma once

#include <keymux/keymux.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "queue/event_count.h"

namespace kmx::platform {

class MotionChannel {
 public:
  // The notifier is the one the event queue wakes, so a poller can wait on both.
  explicit MotionChannel(std::shared_ptr<queue::EventCount> notifier);
  MotionChannel() : MotionChannel(std::make_shared<queue::EventCount>()) {}

  // Replaces the slot's content; true when an older motion was still waiting.
  bool store(const KmxEvent& event) const;

  struct Taken {
    KmxEvent event;
    uint64_t generation;  // stores so far, for put_back
  };
  // Takes the slot's content, leaving it empty, and clears the doorbell.
  std::optional<Taken> take() const;

  // Returns a motion that take() handed out but the poller could not
  // deliver yet (an event queued before it goes first). Dropped when a
  // store came since: the slot then holds or delivered a newer one.
  void put_back(const Taken& taken) const;

  // Consumes the doorbell token; true when there was one.
  bool take_token() const noexcept;
  // Whether a motion waits in the slot.
  bool pending() const;

  queue::EventCount& notifier() const noexcept { return *s_->notifier; }

 private:
  struct State {
    std::mutex mu;
    std::optional<KmxEvent> slot;
    uint64_t stores = 0;
    std::atomic<bool> token{false};
    std::shared_ptr<queue::EventCount> notifier;
  };
  std::shared_ptr<State> s_;
};

}  // namespace kmx::platform
