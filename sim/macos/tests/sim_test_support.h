// Helpers of the simulation's own tests: a thread running a run loop, and a leftover check.
#pragma once

#include <ApplicationServices/ApplicationServices.h>
#include <gtest/gtest.h>
#include <kmxsim/kmxsim.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

namespace kmxsim_test {

// Runs `setup` on a new thread, then that thread's run loop until stop(); `teardown` runs on the thread after the
// loop has returned.
class LoopThread {
 public:
  explicit LoopThread(std::function<void()> setup, std::function<void()> teardown = {}) {
    std::promise<CFRunLoopRef> ready;
    auto loop = ready.get_future();
    thread_ = std::thread([this, &ready, setup = std::move(setup), teardown = std::move(teardown)] {
      setup();
      // The thread's run loop dies with the thread, which may end while stop() still calls
      // CFRunLoopStop: the caller holds its own reference.
      CFRunLoopRef loop = CFRunLoopGetCurrent();
      CFRetain(loop);
      ready.set_value(loop);
      CFRunLoopRun();
      returned_ = true;
      if (teardown) teardown();
    });
    id_ = thread_.get_id();
    loop_ = loop.get();
  }
  ~LoopThread() { stop(); }
  LoopThread(const LoopThread&) = delete;
  LoopThread& operator=(const LoopThread&) = delete;

  // A stop made before the loop runs is lost, as in Core Foundation: repeat it until the loop has returned.
  void stop() {
    if (!thread_.joinable()) return;
    while (!returned_) {
      CFRunLoopStop(loop_);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    thread_.join();
    CFRelease(loop_);
  }
  std::thread::id id() const { return id_; }

 private:
  std::atomic<bool> returned_{false};
  std::thread thread_;
  std::thread::id id_;
  CFRunLoopRef loop_ = nullptr;
};

// Resets the world before each test and checks afterwards that the test released what it created.
class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kmxsim_reset();
    CFRunLoopGetCurrent();  // the test thread's own run loop lives as long as the thread
    kmxsim_get_counts(&before_);
  }
  void TearDown() override {
    ASSERT_TRUE(kmxsim_flush(5000));
    kmxsim_counts after{};
    kmxsim_get_counts(&after);
    EXPECT_EQ(after.taps, before_.taps);
    EXPECT_EQ(after.run_loop_sources, before_.run_loop_sources);
    EXPECT_EQ(after.attached_sources, before_.attached_sources);
    EXPECT_EQ(after.file_descriptors, before_.file_descriptors);
    EXPECT_EQ(after.events, before_.events);
    EXPECT_EQ(after.event_sources, before_.event_sources);
    EXPECT_EQ(after.event_handlers, before_.event_handlers);
    EXPECT_EQ(after.hotkeys, before_.hotkeys);
    EXPECT_EQ(after.open_fds, before_.open_fds);
    kmxsim_reset();
  }
  kmxsim_counts before_{};
};

}  // namespace kmxsim_test
