// KmxEvent builders and the process-wide timestamp rule.
#pragma once

#include <keymux/keymux.h>

#include <cstdint>

namespace kmx::model {

inline constexpr uint64_t INJECTION_MARKER = KMX_INJECTION_MARKER;

// Microseconds since TIMESTAMP_ORIGIN (fixed by the first call in the
// process), capped at 0xFFFFFFFFFFFFFFFE, plus 1: never 0.
uint64_t timestamp_now_us() noexcept;

KmxEvent hotkey_event(uint64_t shortcut_id, bool down) noexcept;
KmxEvent key_event(uint32_t modifier, uint32_t native_code, bool down, uint32_t flags) noexcept;
KmxEvent button_event(uint8_t button, bool down, double x, double y, uint32_t flags) noexcept;
KmxEvent motion_event(double x, double y, uint32_t flags) noexcept;

}  // namespace kmx::model
