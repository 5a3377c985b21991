#include "platform/backend.h"

namespace kmx::platform {

EventPipes make_event_pipes() {
  auto notifier = std::make_shared<queue::EventCount>();
  auto [tx, rx] = queue::channel<KmxEvent>(notifier);
  return EventPipes{std::move(tx), std::move(rx), MotionChannel(notifier)};
}

}  // namespace kmx::platform
