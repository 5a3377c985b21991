// The contract every platform backend implements. The build links exactly
// one backend; the runtime reaches it only through the declarations here.
//
//  1. spawn(raw_mask) creates the queues and the wake handle, starts the
//     worker thread and waits (no time-out) for its initialisation result.
//  2. The worker, each time the wake handle is signalled, takes every queued
//     Command without blocking and handles them in order; Stop is
//     acknowledged, then the worker releases everything and ends, which
//     drops its event senders and so closes the event queue.
//  3. send_chord and is_key_down_many run on the caller's thread.
//  4. Events go into the event queue and the motion channel, never waiting.
#pragma once

#include <keymux/keymux.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "error/result.h"
#include "platform/commands.h"
#include "platform/motion_channel.h"
#include "platform/wake_handle.h"
#include "platform/worker_thread.h"
#include "queue/channel.h"

namespace kmx::platform {

using EventSender = queue::Sender<KmxEvent>;
using EventReceiver = queue::Receiver<KmxEvent>;

// The event queue and the motion channel, sharing one notifier so that a
// poller can wait on both at once.
struct EventPipes {
  EventSender sender;
  EventReceiver receiver;
  MotionChannel motion;
};
EventPipes make_event_pipes();

// State the direct operations need (a display connection, say). Each
// backend defines it; the runtime only holds it.
struct DirectContext;

struct BackendStart {
  queue::Sender<Command> commands;
  MotionChannel motion;
  EventReceiver events;
  std::string name;
  std::shared_ptr<WakeHandle> wake;
  uint64_t capabilities = 0;
  WorkerThread worker;
  std::shared_ptr<DirectContext> direct;
};

Result<BackendStart> spawn(uint32_t raw_mask);

// Both are called with at most 8 modifiers, each in 0xE0..0xE7, and known
// usages only (the C interface checked them).
Status send_chord(DirectContext& ctx, std::span<const uint32_t> modifiers, uint32_t key);
Result<std::vector<bool>> is_key_down_many(DirectContext& ctx, std::span<const uint32_t> usages);

}  // namespace kmx::platform
