// The portable key vocabulary: USB HID Keyboard/Keypad usages named by
// their KeyboardEvent.code names, with each platform's key code. The rows
// live in keys.inc, one line per key.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "error/result.h"

namespace kmx::model {

struct KeyRow {
  uint32_t usage;
  std::string_view name;
  std::optional<uint32_t> windows_vk;
  std::optional<uint32_t> macos_keycode;
  std::optional<uint32_t> x11_keysym;
  uint32_t evdev_code;  // Linux input event code: the key's position
};

extern const std::span<const KeyRow> PORTABLE_KEYS;       // 107 rows, table order
extern const std::span<const KeyRow> PORTABLE_MODIFIERS;  // 8 rows, index = usage - 0xE0

const KeyRow* key_by_usage(uint32_t usage) noexcept;
const KeyRow* modifier_by_usage(uint32_t usage) noexcept;
// A row of either table.
const KeyRow* any_by_usage(uint32_t usage) noexcept;
bool is_known_usage(uint32_t usage) noexcept;

// InvalidArgument "unknown portable key usage 0x.." / "unknown portable modifier usage 0x..".
Status check_key_usage(uint32_t usage);
Status check_modifier_usage(uint32_t usage);

}  // namespace kmx::model
