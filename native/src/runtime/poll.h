// Taking one event for a poller: queued events first, then the motion slot,
// then a wait on both with the caller's time-out.
#pragma once

#include <keymux/keymux.h>

#include "platform/backend.h"

namespace kmx::runtime {

// 0 with *out written, 3 nothing within the time-out (0xFFFFFFFF: no
// limit), 4 every producer is gone and the queue is drained.
uint32_t poll_event(const platform::EventReceiver& events, const platform::MotionChannel& motion, KmxEvent* out,
                    uint32_t timeout_ms);

}  // namespace kmx::runtime
