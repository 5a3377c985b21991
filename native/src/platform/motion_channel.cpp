#include "platform/motion_channel.h"

namespace kmx::platform {

MotionChannel::MotionChannel(std::shared_ptr<queue::EventCount> notifier) : s_(std::make_shared<State>()) {
  s_->notifier = std::move(notifier);
}

bool MotionChannel::store(const KmxEvent& event) const {
  bool replaced;
  bool ring;
  {
    std::lock_guard lock(s_->mu);
    replaced = s_->slot.has_value();
    s_->slot = event;
    ++s_->stores;
    ring = !s_->token.exchange(true, std::memory_order_seq_cst);
  }
  if (ring) s_->notifier->notify();
  return replaced;
}

std::optional<MotionChannel::Taken> MotionChannel::take() const {
  std::lock_guard lock(s_->mu);
  if (!s_->slot) return std::nullopt;
  Taken out{*s_->slot, s_->stores};
  s_->slot.reset();
  s_->token.store(false, std::memory_order_seq_cst);
  return out;
}

void MotionChannel::put_back(const Taken& taken) const {
  bool ring = false;
  {
    std::lock_guard lock(s_->mu);
    if (s_->stores != taken.generation) return;
    s_->slot = taken.event;
    ring = !s_->token.exchange(true, std::memory_order_seq_cst);
  }
  if (ring) s_->notifier->notify();
}

bool MotionChannel::pending() const {
  std::lock_guard lock(s_->mu);
  return s_->slot.has_value();
}

bool MotionChannel::take_token() const noexcept { return s_->token.exchange(false, std::memory_order_seq_cst); }

}  // namespace kmx::platform
