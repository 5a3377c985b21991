#include "platform/backend.h"

namespace kmx::platform {

EventPipes make_event_pipes() {
  auto notifier = std::make_shared<queue::EventCount>();
  auto [tx, rx] = queue::channel<KmxEvent>(notifier);
  MotionChannel motion(rx.state());
  return EventPipes{std::move(tx), std::move(rx), std::move(motion)};
}

}  // namespace kmx::platform
