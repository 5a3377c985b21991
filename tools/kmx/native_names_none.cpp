// Backends whose native codes the program does not name.
#include "native_names.h"

namespace kmx_tool {

std::optional<std::string_view> key_name_for_native_code(uint32_t) { return std::nullopt; }

}  // namespace kmx_tool
