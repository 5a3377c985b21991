// The last step of a backend's spawn: wait (no time-out) for the worker's
// initialisation result, and join a worker that failed or vanished, so no
// thread of a failed start outlives it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "error/result.h"
#include "platform/worker_thread.h"
#include "queue/channel.h"

namespace kmx::platform {

inline Status await_worker_start(WorkerThread& worker, queue::Receiver<Status>& init, std::string_view backend) {
  auto [result, why] = init.recv(std::nullopt);
  if (!result) {
    worker.join();
    return KmxError::backend(std::string(backend) + " backend exited during initialization");
  }
  if (!*result) worker.join();
  return std::move(*result);
}

}  // namespace kmx::platform
