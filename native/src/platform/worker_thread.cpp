#include "platform/worker_thread.h"

#include <cstdio>
#include <system_error>

namespace kmx::platform {

WorkerThread::~WorkerThread() {
  if (thread_.joinable()) thread_.detach();
}

Result<WorkerThread> WorkerThread::start(std::string name, std::function<void()> body) {
  WorkerThread w;
  w.faulted_ = std::make_shared<std::atomic<bool>>(false);
  try {
    w.thread_ = std::thread([name = std::move(name), body = std::move(body), faulted = w.faulted_]() noexcept {
      set_current_thread_name(name);
      try {
        body();
      } catch (...) {
        faulted->store(true, std::memory_order_release);
      }
    });
  } catch (const std::system_error& e) {
    return KmxError::backend(e.what());
  }
  return w;
}

bool WorkerThread::join() {
  if (!thread_.joinable()) return false;
  thread_.join();
  return faulted_->load(std::memory_order_acquire);
}

}  // namespace kmx::platform
