// The main thread's platform event loop. On macOS Carbon delivers hot keys
// only while the main thread runs it, so kmx runs it there and polls from
// another thread. One implementation per platform, chosen by CMake.
#pragma once

namespace kmx_tool {

// Runs the loop for up to seconds; where there is none, only waits.
void run_main_event_loop(double seconds);

}  // namespace kmx_tool
