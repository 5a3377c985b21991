#include "platform/x11/injection_ledger.h"

#include <algorithm>

namespace kmx::platform::x11 {

void InjectionLedger::expire(Clock::time_point now) {
  while (!entries_.empty() && now - entries_.front().at > MAX_AGE) entries_.pop_front();
}

void InjectionLedger::record(uint32_t keycode, bool down, Clock::time_point now) {
  std::lock_guard lock(mu_);
  expire(now);
  if (entries_.size() == CAPACITY) entries_.pop_front();
  entries_.push_back({keycode, down, now});
}

void InjectionLedger::cancel_last(uint32_t keycode, bool down) {
  std::lock_guard lock(mu_);
  if (!entries_.empty() && entries_.back().keycode == keycode && entries_.back().down == down) entries_.pop_back();
}

bool InjectionLedger::match(uint32_t keycode, bool down, Clock::time_point now) {
  std::lock_guard lock(mu_);
  expire(now);
  const auto it = std::find_if(entries_.begin(), entries_.end(),
                               [&](const Entry& e) { return e.keycode == keycode && e.down == down; });
  if (it == entries_.end()) return false;
  entries_.erase(entries_.begin(), it + 1);
  return true;
}

size_t InjectionLedger::size() const {
  std::lock_guard lock(mu_);
  return entries_.size();
}

}  // namespace kmx::platform::x11
