#include "model/event.h"

#include <chrono>

namespace kmx::model {

namespace {

std::chrono::steady_clock::time_point timestamp_origin() noexcept {
  static const auto TIMESTAMP_ORIGIN = std::chrono::steady_clock::now();
  return TIMESTAMP_ORIGIN;
}

KmxEvent blank(uint32_t kind) noexcept {
  KmxEvent e{};
  e.kind = kind;
  e.timestamp_us = timestamp_now_us();
  return e;
}

}  // namespace

uint64_t timestamp_now_us() noexcept {
  const auto origin = timestamp_origin();
  const auto elapsed = std::chrono::steady_clock::now() - origin;
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count();
  uint64_t us = ns <= 0 ? 0 : static_cast<uint64_t>(ns) / 1000u;
  if (us > 0xFFFFFFFFFFFFFFFEull) us = 0xFFFFFFFFFFFFFFFEull;
  return us + 1;
}

KmxEvent hotkey_event(uint64_t shortcut_id, bool down) noexcept {
  KmxEvent e = blank(KMX_EVENT_HOTKEY);
  e.shortcut_id = shortcut_id;
  e.down = down ? 1 : 0;
  return e;
}

KmxEvent key_event(uint32_t modifier, uint32_t native_code, bool down, uint32_t flags) noexcept {
  KmxEvent e = blank(KMX_EVENT_KEY);
  e.modifier = modifier;
  e.native_code = native_code;
  e.down = down ? 1 : 0;
  e.flags = flags;
  return e;
}

KmxEvent button_event(uint8_t button, bool down, double x, double y, uint32_t flags) noexcept {
  KmxEvent e = blank(KMX_EVENT_BUTTON);
  e.button = button;
  e.down = down ? 1 : 0;
  e.x = x;
  e.y = y;
  e.flags = flags;
  return e;
}

KmxEvent motion_event(double x, double y, uint32_t flags) noexcept {
  KmxEvent e = blank(KMX_EVENT_MOTION);
  e.x = x;
  e.y = y;
  e.flags = flags;
  return e;
}

}  // namespace kmx::model
