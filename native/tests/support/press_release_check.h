// Checks hot-key events as they come, holding only the ids now pressed:
// every press is followed by its release, and no release or second press
// comes alone. A soak keeps its memory flat with it.
#pragma once

#include <gtest/gtest.h>
#include <keymux/keymux.h>

#include <cstddef>
#include <cstdint>
#include <set>

namespace kmx::testing {

class PressReleaseCheck {
 public:
  void take(const KmxEvent& e) {
    if (e.kind != KMX_EVENT_HOTKEY) return;
    const bool was_down = pressed_.count(e.shortcut_id) != 0;
    if (was_down == (e.down != 0) && ++broken_ <= 5)
      ADD_FAILURE() << "shortcut " << e.shortcut_id << (e.down ? ": a second press" : ": a release without press");
    if (e.down) {
      pressed_.insert(e.shortcut_id);
      ++presses_;
    } else {
      pressed_.erase(e.shortcut_id);
    }
  }
  // At the end: nothing broken, nothing left pressed.
  void expect_all_released() const {
    EXPECT_EQ(broken_, 0u);
    for (uint64_t id : pressed_) ADD_FAILURE() << "shortcut " << id << " was left pressed";
  }
  size_t presses() const { return presses_; }

 private:
  std::set<uint64_t> pressed_;
  size_t presses_ = 0;
  size_t broken_ = 0;
};

}  // namespace kmx::testing
