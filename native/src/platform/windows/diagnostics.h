// Lines for the host's standard error, written by a thread of their own.
//
// The backend thread is also the thread of the low-level hooks, and
// Windows removes a hook without notice when its thread does not answer in
// time; a console with a text selection or a full pipe blocks a write for
// as long as it likes. So nothing on the backend thread writes: it queues
// the line and returns. The writer starts when a line arrives and ends when
// the queue is empty, holding a reference on the module meanwhile so that
// the host may unload the library while a write is still blocked.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

namespace kmx::platform::windows {

// Queues one line (a newline is added). Never blocks; past a few thousand
// unwritten lines, further ones are dropped.
void post_diagnostic(std::string line) noexcept;

// Waits up to timeout_ms for every queued line to be written; true if
// they were. For the end of a backend, so that its last lines are out
// before kmx_stop returns unless standard error is stuck.
bool flush_diagnostics(uint32_t timeout_ms) noexcept;

// Lines dropped because the queue was full, since the process started.
uint64_t dropped_diagnostics() noexcept;

// Queues "brindle-utils: panic in <name> caught at C ABI boundary: <what>".
void report_callback_fault(const char* name, const char* what) noexcept;

// The guard around code the system calls into (hook procedures, the
// window procedure): a fault is reported as a queued line and dropped.
template <class F>
bool guard_callback(const char* name, F&& body) noexcept {
  try {
    std::forward<F>(body)();
    return true;
  } catch (const std::exception& e) {
    report_callback_fault(name, e.what());
  } catch (...) {
    report_callback_fault(name, "<non-string panic payload>");
  }
  return false;
}

}  // namespace kmx::platform::windows
