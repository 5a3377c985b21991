// The runtime handle: owner of one running backend. Commands go to the
// worker over a queue and wait for a reply with a time-out; chords and
// key-state queries run on the caller's thread; events are polled.
//
// Every operation except create and destroy expects the caller to hold the
// gate shared (the C interface takes it for the whole call).
#pragma once

#include <keymux/keymux.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "error/result.h"
#include "hotkeys/apply_outcome.h"
#include "model/shortcut.h"
#include "platform/backend.h"
#include "runtime/gate.h"

namespace kmx::runtime {

inline constexpr uint32_t ABI_VERSION = KMX_ABI_VERSION;
inline constexpr uint32_t RAW_MASK_BITS = KMX_RAW_KEYS | KMX_RAW_BUTTONS | KMX_RAW_DRAG_MOTION;

struct Timeouts {
  std::chrono::milliseconds raw_mask{5000};
  std::chrono::milliseconds apply{45000};
  std::chrono::milliseconds stop_ack{5000};
};

class Handle {
 public:
  // Checks the version and mask, claims the single-runtime slot, starts the backend.
  static Result<Handle*> create(uint32_t abi_version, uint32_t raw_mask, Timeouts timeouts = {});
  // Waits for every call in flight, stops, frees and releases the slot.
  static void destroy(Handle* handle) noexcept;

  Gate& gate() noexcept { return gate_; }
  // True in a forked child for the runtime its parent created: every call on
  // it returns at once (stop 0, the rest Closed) and touches nothing.
  bool inherited() const noexcept;

  // 0, or 2 when the worker ended by an internal fault.
  uint32_t stop();
  Status set_raw_mask(uint32_t mask);
  Result<hotkeys::ApplyOutcome> apply_hotkeys(model::ShortcutList shortcuts);
  Status send_chord(std::span<const uint32_t> modifiers, uint32_t key);
  Result<std::vector<bool>> is_key_down_many(std::span<const uint32_t> usages);
  // 0 with *out written, 3 nothing within the time-out, 4 source closed.
  uint32_t poll_event(KmxEvent* out, uint32_t timeout_ms);

  // Records the error's display text as the last error; returns its status.
  uint32_t set_error(const KmxError& error);
  std::string last_error() const;
  std::string leftovers_text() const;
  const std::string& backend_name() const noexcept { return backend_name_; }
  uint64_t capabilities() const noexcept { return capabilities_; }

  ~Handle();

 private:
  Handle(platform::BackendStart start, Timeouts timeouts);
  uint32_t run_stop();
  void set_last_error_text(std::string text);

  queue::Sender<platform::Command> commands_;
  platform::MotionChannel motion_;
  platform::EventReceiver events_;
  std::string backend_name_;
  std::shared_ptr<platform::WakeHandle> wake_;
  std::shared_ptr<platform::DirectContext> direct_;
  uint64_t capabilities_;
  Timeouts timeouts_;
  uint64_t generation_;

  mutable std::mutex last_error_mu_;
  std::string last_error_;
  mutable std::mutex leftovers_mu_;
  std::vector<std::string> leftovers_;
  std::mutex worker_mu_;
  std::optional<platform::WorkerThread> worker_;
  std::atomic<bool> stopped_{false};
  Gate gate_;
};

// Process-wide last creation error.
uint32_t set_init_error(const KmxError& error);
std::string last_init_error();

// Whether a runtime exists in the process.
bool instance_active() noexcept;

}  // namespace kmx::runtime
