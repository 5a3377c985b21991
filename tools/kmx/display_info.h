// What the program can tell about the display server beside the library's
// own answers. One implementation per backend, chosen by CMake.
#pragma once

#include <optional>

namespace kmx_tool {

// True under Xwayland, false on another X server; none where it does not apply.
std::optional<bool> under_xwayland();

}  // namespace kmx_tool
