// The backend worker's join handle. A worker body that ends by an exception
// is an internal fault: it is caught at the top of the thread and reported
// when the thread is joined.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "error/result.h"

namespace kmx::platform {

// Names the calling thread (best effort; per operating system).
void set_current_thread_name(const std::string& name) noexcept;

class WorkerThread {
 public:
  WorkerThread() = default;
  WorkerThread(WorkerThread&&) noexcept = default;
  WorkerThread& operator=(WorkerThread&&) noexcept = default;
  ~WorkerThread() {
    if (thread_.joinable()) thread_.detach();  // a failed start drops it unjoined
  }

  // Starts body (move-only callables welcome) on a thread named name. A
  // thread the system refuses gives a Backend error with the system's text.
  template <class Body>
  static Result<WorkerThread> start(std::string name, Body body) {
    WorkerThread w;
    w.faulted_ = std::make_shared<std::atomic<bool>>(false);
    try {
      w.thread_ = std::thread(
          [name = std::move(name), faulted = w.faulted_](Body body) noexcept {
            set_current_thread_name(name);
            try {
              body();
            } catch (...) {
              faulted->store(true, std::memory_order_release);
            }
          },
          std::move(body));
    } catch (const std::system_error& e) {
      return KmxError::backend(e.what());
    }
    return w;
  }

  // Waits for the thread; true when its body ended by an internal fault.
  bool join() {
    if (!thread_.joinable()) return false;
    thread_.join();
    return faulted_->load(std::memory_order_acquire);
  }
  bool joinable() const noexcept { return thread_.joinable(); }

 private:
  std::thread thread_;
  std::shared_ptr<std::atomic<bool>> faulted_;
};

}  // namespace kmx::platform
