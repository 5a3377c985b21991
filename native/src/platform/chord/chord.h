// Chord planning, shared by every backend: which keys go down and up, in
// which order, and what to release when posting stopped part way.
// Pure functions over platform key codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "error/result.h"

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

// Posts a plan one step at a time with post(code, press), which gives the
// step's error or nothing. When a step fails, the keys the delivered prefix
// left down are released (best effort) and the outcome says how far it
// got: NotDelivered when no step was, DeliveryUncertain otherwise.
template <class Post>
Status post_plan(std::span<const ChordStep> plan, Post&& post) {
  size_t posted = 0;
  std::optional<KmxError> failure;
  for (const ChordStep& step : plan) {
    failure = post(step.code, step.press);
    if (failure) break;
    ++posted;
  }
  if (!failure) return {};
  if (posted == 0) return KmxError::not_delivered(failure->display());
  for (uint32_t code : plan_cleanup(plan, posted)) post(code, false);
  return KmxError::delivery_uncertain("posted " + std::to_string(posted) + " of " + std::to_string(plan.size()) +
                                      " chord events before a later one failed: " + failure->display());
}

// "main chord key 0x.. is physically held; declining to inject rather than
// risk releasing a key the user still owns" (names the portable usage).
std::string main_key_held_message(uint32_t usage);

}  // namespace kmx::platform::chord
