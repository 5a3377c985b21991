// Commands from the runtime to the backend worker; each carries the sending
// end of its own reply channel (one message at most).
#pragma once

#include <variant>

#include "error/result.h"
#include "hotkeys/apply_outcome.h"
#include "model/shortcut.h"
#include "queue/channel.h"

namespace kmx::platform {

struct Ack {};

struct ApplyHotkeys {
  model::ShortcutList shortcuts;
  queue::Sender<Result<hotkeys::ApplyOutcome>> reply;
};

struct SetRawMask {
  uint32_t mask = 0;
  queue::Sender<Status> reply;
};

struct Stop {
  queue::Sender<Ack> ack;
};

using Command = std::variant<ApplyHotkeys, SetRawMask, Stop>;

}  // namespace kmx::platform
