// Chord planning, shared by every backend: which keys go down and up, in
// which order, and what to release when posting stopped part way.
// Pure functions over platform key codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kmx::platform::chord {

inline constexpr size_t MAX_CHORD_MODIFIERS = 4;

struct ChordStep {
  uint32_t code;
  bool press;
  bool operator==(const ChordStep&) const = default;
};

// held: modifier codes the user physically holds (never pressed or released).
std::vector<ChordStep> plan_chord(std::span<const uint32_t> held, std::span<const uint32_t> modifiers,
                                  uint32_t main_key);

// Keys still down because only the first `posted` steps were delivered,
// most recently pressed first: one entry per delivered press of a key none
// of whose releases was delivered.
std::vector<uint32_t> plan_cleanup(std::span<const ChordStep> plan, size_t posted);

// "main chord key 0x.. is physically held; declining to inject rather than
// risk releasing a key the user still owns" (names the portable usage).
std::string main_key_held_message(uint32_t usage);

}  // namespace kmx::platform::chord
