#include "platform/windows/diagnostics.h"

#include <windows.h>

#include <atomic>

#include "platform/windows/win32_seam.h"
#include "queue/channel.h"

namespace kmx::platform::windows {

namespace {

constexpr uint64_t MAX_QUEUED = 4096;

// Nobody sleeps on the channel's notifier (the writer is started, not
// woken), so a send never takes a lock.
struct Queue {
  Queue() {
    auto [tx, rx] = queue::channel<std::string>();
    sender = std::move(tx);
    receiver = std::move(rx);
  }
  queue::Sender<std::string> sender;
  queue::Receiver<std::string> receiver;
  // Lines queued and not yet written. The poster that moves it from 0
  // starts a writer; the writer that brings it back to 0 ends.
  std::atomic<uint64_t> pending{0};
  std::atomic<uint64_t> dropped{0};
};

// Never destroyed: a writer may outlive static destruction.
Queue& lines() {
  static Queue* q = new Queue;
  return *q;
}

std::string take_line(Queue& q) {
  // The poster pushes before it counts, so the line is there.
  for (;;) {
    if (auto line = q.receiver.try_recv()) return std::move(*line);
    ::SwitchToThread();
  }
}

DWORD WINAPI writer_main(void* module) {
  Queue& q = lines();
  do {
    const std::string line = take_line(q);
    win32().write_error_text(line.data(), line.size());
  } while (q.pending.fetch_sub(1, std::memory_order_acq_rel) > 1);
  ::FreeLibraryAndExitThread(static_cast<HMODULE>(module), 0);
  return 0;
}

void start_writer(Queue& q) noexcept {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&writer_main), &module);
  HANDLE thread = ::CreateThread(nullptr, 0, &writer_main, module, 0, nullptr);
  if (thread != nullptr) {
    ::CloseHandle(thread);
    return;
  }
  // No writer: drop what is queued rather than leave later lines waiting
  // for a writer that nobody starts.
  if (module != nullptr) ::FreeLibrary(module);
  do {
    (void)take_line(q);
    q.dropped.fetch_add(1, std::memory_order_relaxed);
  } while (q.pending.fetch_sub(1, std::memory_order_acq_rel) > 1);
}

}  // namespace

void post_diagnostic(std::string line) noexcept {
  Queue& q = lines();
  if (q.pending.load(std::memory_order_acquire) >= MAX_QUEUED) {
    q.dropped.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  try {
    line += '\n';
    q.sender.send(std::move(line));
  } catch (...) {
    q.dropped.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  if (q.pending.fetch_add(1, std::memory_order_acq_rel) == 0) start_writer(q);
}

bool flush_diagnostics(uint32_t timeout_ms) noexcept {
  const ULONGLONG end = ::GetTickCount64() + timeout_ms;
  while (lines().pending.load(std::memory_order_acquire) != 0) {
    if (::GetTickCount64() >= end) return false;
    ::Sleep(5);
  }
  return true;
}

void report_callback_fault(const char* name, const char* what) noexcept {
  try {
    post_diagnostic(std::string("brindle-utils: panic in ") + name + " caught at C ABI boundary: " + what);
  } catch (...) {
  }
}

uint64_t dropped_diagnostics() noexcept { return lines().dropped.load(std::memory_order_relaxed); }

}  // namespace kmx::platform::windows
