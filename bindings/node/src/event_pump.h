// Dispatching Carbon events on the main thread for hosts without an AppKit
// loop (plain Node): Carbon delivers hot keys only while that thread runs
// its event loop, which libuv owns in such a process.
#pragma once

#include <napi.h>

namespace keymux_node {

// pumpEvents() -> boolean: runs the main thread's Carbon event loop once
// without waiting; false when the loaded library brings no Carbon (any
// backend but macOS), so the caller can stop asking.
Napi::Value pump_events(const Napi::CallbackInfo& info);

}  // namespace keymux_node
