#include "runtime/poll.h"

#include "runtime/poll_loop.h"

namespace kmx::runtime {

uint32_t poll_event(const platform::EventReceiver& events, const platform::MotionChannel& motion, KmxEvent* out,
                    uint32_t timeout_ms) {
  return basic_poll_event<queue::StdSync>(events, motion, out, timeout_ms);
}

}  // namespace kmx::runtime
