#include "platform/motion_channel.h"

namespace kmx::platform {

MotionChannel::MotionChannel(std::shared_ptr<queue::EventCount> notifier) : s_(std::make_shared<State>()) {
  s_->notifier = std::move(notifier);
}

bool MotionChannel::store(const KmxEvent& event) const {
  bool replaced;
  {
    std::lock_guard lock(s_->mu);
    replaced = s_->slot.has_value();
    s_->slot = event;
  }
  // The token goes in after the slot's mutex is released.
  if (!s_->token.exchange(true, std::memory_order_seq_cst)) s_->notifier->notify();
  return replaced;
}

std::optional<KmxEvent> MotionChannel::take() const {
  std::optional<KmxEvent> out;
  {
    std::lock_guard lock(s_->mu);
    out.swap(s_->slot);
  }
  if (out) s_->token.store(false, std::memory_order_release);
  return out;
}

bool MotionChannel::take_token() const noexcept { return s_->token.exchange(false, std::memory_order_seq_cst); }

bool MotionChannel::has_token() const noexcept { return s_->token.load(std::memory_order_seq_cst); }

}  // namespace kmx::platform
