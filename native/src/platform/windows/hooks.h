// The low-level keyboard and mouse hooks of the backend thread, which turn
// desktop input into Key, Button and drag Motion events. They only observe:
// every call is passed on unchanged.
#pragma once

#include <windows.h>

#include <cstdint>

#include "error/result.h"
#include "platform/backend.h"

namespace kmx::platform::windows {

struct HookSlots {
  HHOOK keyboard = nullptr;
  HHOOK mouse = nullptr;
};

// Modifier role (KMX_MOD_*) of a virtual-key code.
uint32_t modifier_role(uint32_t vk) noexcept;

// Installs the hooks the raw mask asks for (afresh when already present,
// so that setting the same mask again recovers a hook Windows removed),
// removes the others and sets this thread's hook context. Must run on the
// thread that pumps the messages.
Status sync_hooks(HookSlots& slots, uint32_t mask, const EventSender& events, const MotionChannel& motion);

// Removes both hooks and clears this thread's hook context.
void remove_hooks(HookSlots& slots) noexcept;

}  // namespace kmx::platform::windows
