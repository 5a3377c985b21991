// The signal through which the runtime rouses the backend worker after it
// queued a command. One implementation per operating system, chosen by the
// build: a local socket pair (macOS, Linux) or an event object (Windows).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "error/result.h"

namespace kmx::platform {

class WakeHandle {
 public:
  struct Created {
    std::shared_ptr<WakeHandle> handle;
    // POSIX: the reading descriptor, owned by the worker from now on.
    // Windows: the event's HANDLE value, waited on without owning it.
    intptr_t worker_end;
  };

  static Result<Created> create();

  explicit WakeHandle(intptr_t native) noexcept : native_(native) {}
  WakeHandle(const WakeHandle&) = delete;
  WakeHandle& operator=(const WakeHandle&) = delete;
  ~WakeHandle();  // closes the writing end / the event

  // Never fails from the caller's point of view; callable from any thread.
  void signal() noexcept;

  // The writing descriptor or the event HANDLE.
  intptr_t native() const noexcept { return native_; }

 private:
  intptr_t native_;
  std::mutex mu_;  // serialises writers
};

}  // namespace kmx::platform
