// Whether the X server is Xwayland, where grabs, raw input, key state and
// XTest reach X11 clients only, not the Wayland desktop around them.
#pragma once

#include "platform/x11/x11_xlib.h"

namespace kmx::platform::x11 {

// True when the server has the XWAYLAND extension (Xwayland 23.1 and
// later) or names its RandR outputs as every Xwayland does (XWAYLAND0).
bool is_xwayland(Display* display);

}  // namespace kmx::platform::x11
