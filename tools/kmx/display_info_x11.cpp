// X11: the library's own Xwayland test, on a connection of the program's.
#include "display_info.h"

#include "platform/x11/x11_xwayland.h"

namespace kmx_tool {

std::optional<bool> under_xwayland() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return std::nullopt;
  const bool xwayland = kmx::platform::x11::is_xwayland(display);
  XCloseDisplay(display);
  return xwayland;
}

}  // namespace kmx_tool
