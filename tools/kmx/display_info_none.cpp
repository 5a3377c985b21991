#include "display_info.h"

namespace kmx_tool {

std::optional<bool> under_xwayland() { return std::nullopt; }

}  // namespace kmx_tool
