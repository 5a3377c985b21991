// The accelerator grammar the Windows and X11 backends share: pieces
// separated by "+"; a single piece is a key name taken as is (untrimmed);
// with several pieces each is trimmed of Unicode white space, modifier
// words come first, then exactly one key name. Each backend maps the
// result onto its own modifier bits and key codes.
#pragma once

#include <cstdint>
#include <string_view>

#include "error/result.h"

namespace kmx::hotkeys {

// Modifier bits of a parsed accelerator.
inline constexpr uint32_t ACCEL_ALT = 1u << 0;
inline constexpr uint32_t ACCEL_CONTROL = 1u << 1;
inline constexpr uint32_t ACCEL_SHIFT = 1u << 2;
inline constexpr uint32_t ACCEL_SUPER = 1u << 3;

struct ParsedAccelerator {
  uint32_t modifiers = 0;  // ACCEL_* bits
  uint32_t usage = 0;      // portable usage of the key (a model::PORTABLE_KEYS row)
  bool operator==(const ParsedAccelerator&) const = default;
};

// The ACCEL_* bit a modifier word stands for (ASCII case-insensitive), or 0.
uint32_t modifier_word_bit(std::string_view word);

// The portable usage a key name stands for: a portable key name without
// regard to case, a single letter, digit or punctuation character, or a
// short form ("UP", "ESC", "NUM0"); 0 when it names no key.
uint32_t key_name_usage(std::string_view name);

// Failures are InvalidArgument with one of these reasons (the accelerator
// itself is not repeated; callers prefix it):
//   empty token between "+" separators
//   invalid format: "<piece>" follows the key; the key comes last
//   invalid format: no key, only modifiers
//   unrecognised key "<piece>"
Result<ParsedAccelerator> parse_accelerator_text(std::string_view text);

}  // namespace kmx::hotkeys
