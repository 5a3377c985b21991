// Accelerator text for Carbon hot keys: the canonical form the hot-key set
// compares, and the parser that yields a virtual key code and modifier mask.
// Pure text handling; no Carbon call.
#pragma once

#include <cstdint>
#include <string>

#include "error/result.h"

namespace kmx::platform::macos {

// Carbon modifier mask bits.
inline constexpr uint32_t CARBON_CMD = 0x0100;
inline constexpr uint32_t CARBON_SHIFT = 0x0200;
inline constexpr uint32_t CARBON_OPTION = 0x0800;
inline constexpr uint32_t CARBON_CONTROL = 0x1000;

struct CarbonCombo {
  uint16_t key_code = 0;
  uint32_t modifiers = 0;
  bool operator==(const CarbonCombo&) const = default;
};

// Each "+"-separated piece trimmed of Unicode white space and its ASCII
// letters lower-cased; names are not checked.
std::string normalize_accel(const std::string& accelerator);

// InvalidArgument "multiple keys in ..", "missing key in .." or
// "unsupported macOS key: ..".
Result<CarbonCombo> parse_accelerator(const std::string& accelerator);

}  // namespace kmx::platform::macos
