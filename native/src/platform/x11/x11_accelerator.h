// Accelerators of the X11 build: the shared grammar
// (hotkeys/accelerator_grammar.h) with modifiers expressed as the X modifier
// bits a passive grab is taken with. Pure: no display is needed to parse or
// to normalize.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "error/result.h"

namespace kmx::platform::x11 {

// The core-protocol modifier bits (ShiftMask, ControlMask, Mod1Mask,
// Mod4Mask) that the accelerator words stand for.
inline constexpr unsigned MOD_SHIFT = 1u << 0;
inline constexpr unsigned MOD_CONTROL = 1u << 2;
inline constexpr unsigned MOD_ALT = 1u << 3;
inline constexpr unsigned MOD_SUPER = 1u << 6;
inline constexpr unsigned ACCELERATOR_MODIFIERS = MOD_SHIFT | MOD_CONTROL | MOD_ALT | MOD_SUPER;

struct Accelerator {
  unsigned modifiers = 0;  // MOD_* bits
  uint32_t usage = 0;      // portable usage of the key
  uint32_t keysym = 0;     // its X11 keysym
  bool operator==(const Accelerator&) const = default;
};

// Parses one accelerator. Failures are InvalidArgument with the text
// `<accelerator>: <reason>`.
Result<Accelerator> parse_accelerator(std::string_view text);

// "Alt+Control+Shift+Super+KeyK": the modifiers present, in that order,
// then the portable name of the key.
std::string canonical_text(const Accelerator& accelerator);

// Canonical text of a valid accelerator; text that does not parse gets a
// form that cannot equal any valid one (its registration then fails).
std::string normalize_accelerator(std::string_view text);

}  // namespace kmx::platform::x11
