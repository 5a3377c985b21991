// The portable key vocabulary as the kmx program names it: the library's
// KeyboardEvent.code names (read from the same key table the library is
// built from), case-insensitively, plus a few everyday aliases.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kmx_tool {

struct KeyName {
  uint32_t usage;
  std::string_view name;
  uint32_t x11_keysym;
  uint32_t evdev_code;  // the key's position; X keycode - 8 on evdev keyboards
};

const std::vector<KeyName>& all_keys();  // keys, then the eight modifiers

// Usage of a key name: KeyboardEvent.code names (all_keys() spells the
// modifiers ControlLeft), the library's LeftControl-style modifier names,
// single letters and digits. None for an unknown name.
std::optional<uint32_t> usage_for_name(std::string_view name);
std::optional<std::string_view> name_for_usage(uint32_t usage);

struct Chord {
  std::vector<uint32_t> modifiers;
  uint32_t key = 0;
};

// "Ctrl+Shift+K": modifier words (Ctrl, Shift, Alt, Super/Meta/Cmd) or
// modifier key names, then one key. Fails with a message naming the piece.
bool parse_chord(std::string_view text, Chord& out, std::string& error);

}  // namespace kmx_tool
