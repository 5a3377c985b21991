// Core Graphics event taps for raw input: a listen-only key tap and pointer
// tap, created, changed, called back and removed on the worker thread.
#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "error/result.h"
#include "platform/backend.h"

namespace kmx::platform::macos {

// Cells shared by the worker and both tap callbacks.
struct SharedCells {
  explicit SharedCells(uint32_t start_mask) : raw_mask(start_mask) {}
  std::atomic<uint32_t> raw_mask;      // the mask in force; written only after a successful sync
  std::atomic<bool> left_held{false};  // left button down, as the pointer tap saw it
  std::atomic<bool> reenable{false};   // the system disabled a tap; the next wake re-enables
};

// What every tap callback needs; the tap owns its copy.
struct TapContext {
  EventSender events;
  MotionChannel motion;
  std::shared_ptr<SharedCells> cells;
  std::shared_ptr<WakeHandle> wake;
};

// One installed tap: its Mach port, the port's run-loop source and the
// callback state. Dropping it invalidates the port and releases both.
class MacRawTap {
 public:
  enum class Kind { Keys, Pointer };

  static Result<MacRawTap> install(TapContext context, Kind kind);

  MacRawTap(MacRawTap&& other) noexcept;
  MacRawTap& operator=(MacRawTap&& other) noexcept;
  MacRawTap(const MacRawTap&) = delete;
  MacRawTap& operator=(const MacRawTap&) = delete;
  ~MacRawTap();

  void enable() const;

 private:
  MacRawTap(CFMachPortRef port, CFRunLoopSourceRef source, std::unique_ptr<TapContext> context) noexcept
      : port_(port), source_(source), context_(std::move(context)) {}
  void reset() noexcept;

  CFMachPortRef port_ = nullptr;
  CFRunLoopSourceRef source_ = nullptr;
  std::unique_ptr<TapContext> context_;  // the callback's user data; outlives the port
};

struct MacTaps {
  std::optional<MacRawTap> key_tap;
  std::optional<MacRawTap> pointer_tap;

  // Installs or removes taps as mask demands, then stores it in the raw
  // mask cell. On failure the cell keeps the previous mask.
  Status sync(uint32_t mask, const TapContext& context);

  // Re-enables the taps that exist, key tap first.
  void enable_all() const;
};

// FLAG_SYNTHETIC for posted events, with FLAG_SELF_INJECTED when they carry
// the injection marker; 0 for events from a device.
uint32_t synthetic_flags(CGEventRef event);

// Input Monitoring, or Accessibility, which also grants key events to taps.
bool may_listen_to_keys();

// The tap callback (listen-only: returns the event unchanged).
CGEventRef tap_callback(CGEventTapProxy proxy, CGEventType type, CGEventRef event, void* user_info);

}  // namespace kmx::platform::macos
