// The backend worker's join handle. A worker body that ends by an exception
// is an internal fault: it is caught at the top of the thread and reported
// when the thread is joined.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "error/result.h"

namespace kmx::platform {

class WorkerThread {
 public:
  WorkerThread() = default;
  WorkerThread(WorkerThread&&) noexcept = default;
  WorkerThread& operator=(WorkerThread&&) noexcept = default;
  ~WorkerThread();  // detaches a thread that was never joined

  // Starts body on a thread named name. A thread the system refuses gives a
  // Backend error with the system's text.
  static Result<WorkerThread> start(std::string name, std::function<void()> body);

  // Waits for the thread; true when its body ended by an internal fault.
  bool join();
  bool joinable() const noexcept { return thread_.joinable(); }

 private:
  std::thread thread_;
  std::shared_ptr<std::atomic<bool>> faulted_;
};

// Names the calling thread (best effort; per operating system).
void set_current_thread_name(const std::string& name) noexcept;

}  // namespace kmx::platform
