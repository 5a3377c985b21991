// A registrar over a simulated platform that can refuse any register or
// release call and records every call in order. Shared by the hot-key set
// tests and the fuzzer.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "error/result.h"
#include "hotkeys/registrar.h"
#include "model/unicode_trim.h"

namespace kmx::test {

// What an injected fault does to the call it hits.
//   register: Soft = the platform refuses (Backend), Hard = parse error (InvalidArgument)
//   release:  Soft = fails with the handle given back, Hard = fails and consumes it
enum class Fault : uint8_t { Soft, Hard };

// Faults by index of the platform call, counted from when the plan is armed.
using FaultPlan = std::map<size_t, Fault>;

// The texts the simulated platform fails with; the reference model uses the
// same ones.
inline KmxError refusal_error(const std::string& accelerator) {
  return KmxError::backend("platform refused " + accelerator);
}
inline KmxError parse_error(const std::string& accelerator) {
  return KmxError::invalid_argument("cannot parse " + accelerator);
}
inline KmxError conflict_error(const std::string& accelerator) {
  return KmxError::backend(accelerator + " is already registered");
}
inline KmxError release_error(const std::string& canonical) {
  return KmxError::backend("cannot unregister " + canonical);
}

// Split at "+", trim each piece, lower-case ASCII, join: the macOS rule.
inline std::string canonical_accelerator(const std::string& accelerator) {
  std::string out;
  size_t start = 0;
  while (true) {
    const size_t plus = accelerator.find('+', start);
    const std::string_view piece = model::trim_white_space(
        std::string_view(accelerator).substr(start, plus == std::string::npos ? std::string::npos : plus - start));
    for (char c : piece) out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    if (plus == std::string::npos) return out;
    out.push_back('+');
    start = plus + 1;
  }
}

class FaultRegistrar {
 public:
  // Move-only, like a real platform registration.
  class Handle {
   public:
    explicit Handle(uint64_t serial) : serial_(serial) {}
    Handle(Handle&& other) noexcept : serial_(std::exchange(other.serial_, 0)) {}
    Handle& operator=(Handle&& other) noexcept {
      serial_ = std::exchange(other.serial_, 0);
      return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    uint64_t serial() const { return serial_; }

   private:
    uint64_t serial_;  // 0 once moved from
  };

  struct Registration {
    std::string canonical;
    uint64_t id;
  };

  std::string normalize(const std::string& accelerator) { return canonical_accelerator(accelerator); }

  Result<Handle> register_hotkey(const std::string& accelerator, uint64_t id) {
    const std::optional<Fault> fault = next_call("register " + accelerator + " " + std::to_string(id));
    if (fault == Fault::Soft) return refusal_error(accelerator);
    if (fault == Fault::Hard) return parse_error(accelerator);
    const std::string canonical = normalize(accelerator);
    for (const auto& [serial, registration] : live_) {
      if (registration.canonical == canonical) return conflict_error(accelerator);
    }
    live_.emplace(++last_serial_, Registration{canonical, id});
    return Handle(last_serial_);
  }

  hotkeys::ReleaseResult<Handle> release(Handle handle) {
    auto it = live_.find(handle.serial());
    if (it == live_.end()) {
      // A released, moved-from or foreign handle: the set lost track.
      misuse_.push_back("release of dead handle " + std::to_string(handle.serial()));
      calls_.push_back("release <dead>");
      return hotkeys::ReleaseResult<Handle>::released();
    }
    const std::string canonical = it->second.canonical;
    const std::optional<Fault> fault = next_call("release " + canonical + " " + std::to_string(it->second.id));
    if (fault == Fault::Soft)
      return hotkeys::ReleaseResult<Handle>::given_back(release_error(canonical), std::move(handle));
    // A consumed handle may leave the registration active: it stays live.
    if (fault == Fault::Hard) return hotkeys::ReleaseResult<Handle>::consumed(release_error(canonical));
    live_.erase(it);
    return hotkeys::ReleaseResult<Handle>::released();
  }

  // Arms a fault plan; indexes count from the next call.
  void arm(FaultPlan plan) {
    plan_ = std::move(plan);
    armed_at_ = calls_.size();
  }

  const std::vector<std::string>& calls() const { return calls_; }
  // Calls since the plan was armed.
  std::vector<std::string> calls_since_armed() const {
    return {calls_.begin() + static_cast<std::ptrdiff_t>(armed_at_), calls_.end()};
  }
  // Registrations the simulated platform holds, by handle serial.
  const std::map<uint64_t, Registration>& live() const { return live_; }
  const std::vector<std::string>& misuse() const { return misuse_; }

 private:
  std::optional<Fault> next_call(std::string description) {
    const size_t index = calls_.size() - armed_at_;
    calls_.push_back(std::move(description));
    auto it = plan_.find(index);
    if (it == plan_.end()) return std::nullopt;
    return it->second;
  }

  std::map<uint64_t, Registration> live_;
  uint64_t last_serial_ = 0;
  std::vector<std::string> calls_;
  std::vector<std::string> misuse_;
  FaultPlan plan_;
  size_t armed_at_ = 0;
};

static_assert(hotkeys::Registrar<FaultRegistrar>);

}  // namespace kmx::test
