#include "event_pump.h"

#include <cstdint>
#include <mutex>
#include <string>

#include "dynlib.h"
#include "library.h"

namespace keymux_node {

namespace {

using RunCurrentEventLoopFn = int32_t (*)(double);  // OSStatus RunCurrentEventLoop(EventTimeout)

// Looked up through the loaded keymux_native, whose dependencies bring
// Carbon on a Mac (the simulated frameworks elsewhere), so the same lookup
// serves both; opening the loaded path again only takes another reference.
RunCurrentEventLoopFn run_current_event_loop() {
  static std::once_flag once;
  static RunCurrentEventLoopFn fn = nullptr;
  std::call_once(once, [] {
    std::string why;
    if (void* library = dynlib_open(loaded_path(), &why))
      fn = reinterpret_cast<RunCurrentEventLoopFn>(dynlib_symbol(library, "RunCurrentEventLoop"));
  });
  return fn;
}

}  // namespace

Napi::Value pump_events(const Napi::CallbackInfo& info) {
  if (!api()) return Napi::Boolean::New(info.Env(), false);
  RunCurrentEventLoopFn run = run_current_event_loop();
  if (run) run(0);
  return Napi::Boolean::New(info.Env(), run != nullptr);
}

}  // namespace keymux_node
