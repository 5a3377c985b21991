// Helpers of the Carbon wrapper suites: a thread-safe recorder of edges
// (callbacks run on the main thread, inside its event loop).
#pragma once

#include <Carbon/Carbon.h>
#include <gtest/gtest.h>
#include <kmxsim/kmxsim.h>

#include <mutex>
#include <vector>

#include "velkor/hotkey.h"

namespace kmx::testing {

inline constexpr uint32_t CMD = 0x0100;
inline constexpr uint32_t SHIFT = 0x0200;
inline constexpr uint32_t OPTION = 0x0800;
inline constexpr uint32_t CONTROL = 0x1000;

class EdgeRecorder {
 public:
  velkor::HotkeyCallback callback() {
    return [this](velkor::HotkeyEdge edge) {
      std::lock_guard lock(mu_);
      edges_.push_back(edge);
    };
  }
  std::vector<velkor::HotkeyEdge> edges() {
    std::lock_guard lock(mu_);
    return edges_;
  }

 private:
  std::mutex mu_;
  std::vector<velkor::HotkeyEdge> edges_;
};

// Dispatches the Carbon events queued so far, as a host's main thread does
// in its event loop (tests run on the main thread).
inline void run_event_loop() {
  ASSERT_TRUE(kmxsim_flush(5000));
  RunCurrentEventLoop(0);
  EXPECT_EQ(kmxsim_pending_hotkey_events(), 0u);
}

// Presses and releases a combination and dispatches both edges.
inline void press_and_release(uint32_t keycode, uint32_t modifiers) {
  kmxsim_hotkey_press(keycode, modifiers);
  kmxsim_hotkey_release(keycode, modifiers);
  run_event_loop();
}

inline size_t callback_count() { return velkor::lock_callback_table().entries.size(); }

}  // namespace kmx::testing
