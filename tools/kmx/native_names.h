// The portable name of a key event's native code, where the platform lets
// the program work it out. One implementation per backend, chosen by CMake.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kmx_tool {

std::optional<std::string_view> key_name_for_native_code(uint32_t native_code);

}  // namespace kmx_tool
