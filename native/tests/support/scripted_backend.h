// A scripted backend for the core suites: a real worker thread that the
// tests drive. Events and motions can be produced from any thread; commands
// can be delayed or left unanswered; start-up and shutdown can fail.
#pragma once

#include <keymux/keymux.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "error/result.h"
#include "hotkeys/apply_outcome.h"
#include "model/shortcut.h"

namespace kmx::scripted {

// How the worker ends on its own, without Stop (as a real worker does on a
// lost display or a failed wait).
enum class WorkerEnd { Quietly, ByFault };

struct Control {
  // Start-up.
  std::optional<KmxError> init_error;  // reported by the worker instead of success
  bool exit_before_report = false;     // the worker ends without reporting
  bool fault_at_shutdown = false;      // the worker body throws after Stop
  uint64_t capabilities = 0xEF;

  // Commands.
  std::atomic<bool> never_reply{false};  // keep replies unanswered (sender kept alive)
  std::atomic<bool> drop_reply{false};   // drop replies unanswered (sender released)
  std::atomic<int> reply_delay_ms{0};
  std::function<Status(uint32_t)> on_raw_mask;  // default: accept
  // Default: the scripted registrar through the real hot-key set.
  std::function<Result<hotkeys::ApplyOutcome>(const model::ShortcutList&)> on_apply;

  // Direct operations. Default chord: typed on the simulated desktop, so a
  // chord naming a registered hot key presses and releases it (modifiers
  // in the order ctrl, shift, alt, meta). Default key state: nothing held.
  std::function<Status(std::span<const uint32_t>, uint32_t)> on_chord;
  std::function<Result<std::vector<bool>>(std::span<const uint32_t>)> on_key_state;

  // The default apply's registrar: accelerators it refuses to register and
  // canonical texts it refuses to release (handle given back).
  std::vector<std::string> refuse_register;
  std::vector<std::string> refuse_release;

  // Observations.
  std::atomic<int> commands_handled{0};
  std::atomic<int> workers_alive{0};
  std::mutex mu;
  std::vector<uint32_t> masks;  // every mask the worker applied, in order
};

Control& control();
// Back to defaults; call with no runtime alive.
void reset();

// Canonical texts registered by the default apply, in registration order of
// the live set.
std::vector<std::string> registered();
// The desktop presses or releases a key combination (canonical text). The
// worker handles it like any platform event: before the commands queued
// after it, against the set registered at that moment. False when no
// runtime is running.
bool trigger_hotkey(const std::string& canonical, bool down);

// Makes the running worker end on its own at its next wake-up; returns
// once it has ended (its wake-up socket closed, its queues released).
void end_worker(WorkerEnd how);

// Produce from any thread while a runtime runs; false when none is running.
bool emit(const KmxEvent& event);
bool emit_motion(const KmxEvent& event);

}  // namespace kmx::scripted
