// Trimming by the Unicode White_Space property on UTF-8 text.
#pragma once

#include <string_view>

namespace kmx::model {

// The 25 code points with the White_Space property.
bool is_white_space(char32_t code_point) noexcept;

// The text without leading and trailing white space. Bytes that are not
// well-formed UTF-8 are never white space and stop the trim.
std::string_view trim_white_space(std::string_view text) noexcept;

}  // namespace kmx::model
