// Carbon's RunCurrentEventLoop when the process has it: on a Mac it comes
// with keymux_native's frameworks (the simulated ones elsewhere), so it is
// looked up at run time and the X11 build, which has none, just waits.
#include <dlfcn.h>

#include <chrono>
#include <cstdint>
#include <thread>

#include "event_loop.h"

namespace kmx_tool {

void run_main_event_loop(double seconds) {
  using RunCurrentEventLoopFn = int32_t (*)(double);
  static const auto run = reinterpret_cast<RunCurrentEventLoopFn>(dlsym(RTLD_DEFAULT, "RunCurrentEventLoop"));
  if (run)
    run(seconds);
  else
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

}  // namespace kmx_tool
