// The hot-key record the Windows build registers, parsed from accelerator
// text by the shared grammar (hotkeys/accelerator_grammar.h) and mapped onto
// the record's modifier bits and key codes. Pure logic: no Win32 call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "error/result.h"

namespace kmx::platform::windows {

// Modifier bits of a HotKey.
inline constexpr uint32_t HOTKEY_ALT = 0x1;
inline constexpr uint32_t HOTKEY_CONTROL = 0x8;
inline constexpr uint32_t HOTKEY_META = 0x40;  // folded into SUPER
inline constexpr uint32_t HOTKEY_SHIFT = 0x200;
inline constexpr uint32_t HOTKEY_SUPER = 0x2000;

// The key enumeration: a key code is the index of its row in
// model::PORTABLE_KEYS; the row's name is the code's KeyboardEvent.code name.
using KeyCode = uint16_t;
size_t key_code_count() noexcept;
std::string_view key_code_name(KeyCode key) noexcept;
uint16_t key_code_vk(KeyCode key) noexcept;
// A key name or alias, without regard to case; none when unknown.
std::optional<KeyCode> key_code_from_name(std::string_view name);

struct HotKey {
  uint32_t mods = 0;
  KeyCode key = 0;
  uint32_t id = 0;  // (mods << 16) | key: equal ids are one native hot key

  static HotKey make(uint32_t mods, KeyCode key) noexcept;

  // The RegisterHotKey modifiers, MOD_NOREPEAT included.
  uint32_t native_modifiers() const noexcept;
  uint16_t vk() const noexcept { return key_code_vk(key); }
  // "HotKey { mods: Control | Shift, key: KeyK, id: 5767182 }"
  std::string debug() const;

  bool operator==(const HotKey&) const = default;
};

// The hot key an accelerator names; otherwise the grammar's InvalidArgument
// error, whose message is its complaint without the accelerator.
Result<HotKey> parse_accelerator(std::string_view text);

}  // namespace kmx::platform::windows
