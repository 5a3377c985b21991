// Shared helpers of the exported functions.
#pragma once

#include <keymux/keymux.h>

#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <string_view>

#include "runtime/handle.h"

namespace kmx::capi {

// Every KmxHandle is a runtime::Handle.
inline runtime::Handle* from_c(KmxHandle h) noexcept { return reinterpret_cast<runtime::Handle*>(h); }
inline KmxHandle to_c(runtime::Handle* h) noexcept { return reinterpret_cast<KmxHandle>(h); }

// Holds the handle's gate shared for the whole call. A runtime inherited
// through fork is left alone: its gate may have been held by a parent thread
// at the fork, and nothing in this process would ever let it go. Every call
// on it returns at once without it.
class SharedCall {
 public:
  explicit SharedCall(runtime::Handle& h) : lock_(h.gate(), std::defer_lock) {
    if (!h.inherited()) lock_.lock();
  }

 private:
  std::shared_lock<runtime::Gate> lock_;
};

// Copies at most capacity - 1 bytes and a NUL; returns the full length + 1.
inline size_t copy_text(std::string_view text, char* buffer, size_t capacity) noexcept {
  if (buffer != nullptr && capacity > 0) {
    const size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
  }
  return text.size() + 1;
}

}  // namespace kmx::capi
