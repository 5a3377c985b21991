// Xlib's thread support, initialised while the library loads.
#pragma once

namespace kmx::platform::x11 {

// False when XInitThreads failed at load time: Xlib is then unsafe to use
// from the worker and the host's threads at once.
bool xlib_threads_ready() noexcept;

}  // namespace kmx::platform::x11
