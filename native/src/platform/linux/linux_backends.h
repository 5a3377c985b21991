// The two Linux backends behind one build. Each keeps its own direct
// context; the run-time selector wraps the chosen one in the runtime's.
#pragma once

#include <memory>
#include <span>
#include <vector>

#include "platform/backend.h"

namespace kmx::platform::x11 {
struct DirectContext;
Result<BackendStart> spawn(uint32_t raw_mask, std::shared_ptr<DirectContext>& direct);
Status send_chord(DirectContext& ctx, std::span<const uint32_t> modifiers, uint32_t key);
Result<std::vector<bool>> is_key_down_many(DirectContext& ctx, std::span<const uint32_t> usages);
}  // namespace kmx::platform::x11

namespace kmx::platform::portal {
struct DirectContext;
// True when the session bus has a GlobalShortcuts portal.
bool available();
Result<BackendStart> spawn(uint32_t raw_mask, std::shared_ptr<DirectContext>& direct);
Status send_chord(DirectContext& ctx, std::span<const uint32_t> modifiers, uint32_t key);
Result<std::vector<bool>> is_key_down_many(DirectContext& ctx, std::span<const uint32_t> usages);
}  // namespace kmx::platform::portal
