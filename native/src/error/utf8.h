// Conversion of the host's C strings into owned text.
#pragma once

#include <string>
#include <string_view>

#include "error/result.h"

namespace kmx::error {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF,
// no truncated sequences.
bool is_valid_utf8(std::string_view bytes) noexcept;

// "<field> is null" / "<field> is not UTF-8" as InvalidArgument.
Result<std::string> owned_text(const char* text, std::string_view field);

}  // namespace kmx::error
