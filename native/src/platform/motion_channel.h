// The latest-motion slot with its one-token doorbell. Drag motion arrives
// far faster than a host may poll, so only the newest sample is kept.
#pragma once

#include <keymux/keymux.h>

#include <atomic>
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

  // Takes the slot's content, leaving it empty; drains the doorbell when it
  // had a motion.
  std::optional<KmxEvent> take() const;

  // Consumes the doorbell token; true when there was one.
  bool take_token() const noexcept;
  bool has_token() const noexcept;

  queue::EventCount& notifier() const noexcept { return *s_->notifier; }

 private:
  struct State {
    std::mutex mu;
    std::optional<KmxEvent> slot;
    std::atomic<bool> token{false};
    std::shared_ptr<queue::EventCount> notifier;
  };
  std::shared_ptr<State> s_;
};

}  // namespace kmx::platform
