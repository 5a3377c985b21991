// The handle's reader-writer gate. Every call holds it shared; destroy holds
// it exclusively. Writers win over newly arriving readers, so a host whose
// threads keep polling in a loop cannot starve kmx_destroy.
#pragma once

#include <condition_variable>
#include <mutex>

namespace kmx::runtime {

class Gate {
 public:
  void lock_shared() {
    std::unique_lock lock(mu_);
    cv_.wait(lock, [this] { return !writer_ && writers_waiting_ == 0; });
    ++readers_;
  }

  void unlock_shared() {
    std::lock_guard lock(mu_);
    if (--readers_ == 0 && writers_waiting_ > 0) cv_.notify_all();
  }

  void lock() {
    std::unique_lock lock(mu_);
    ++writers_waiting_;
    cv_.wait(lock, [this] { return !writer_ && readers_ == 0; });
    --writers_waiting_;
    writer_ = true;
  }

  void unlock() {
    {
      std::lock_guard lock(mu_);
      writer_ = false;
    }
    cv_.notify_all();
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  unsigned readers_ = 0;
  unsigned writers_waiting_ = 0;
  bool writer_ = false;
};

}  // namespace kmx::runtime
