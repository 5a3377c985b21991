#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace spell_helper {

// Strict UTF-8 to UTF-16: nullopt for overlong forms, surrogates, values
// above U+10FFFF and truncated sequences.
std::optional<std::u16string> utf8_to_utf16(std::string_view utf8);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD so that the result
// is always valid.
std::string utf16_to_utf8(std::u16string_view utf16);

}  // namespace spell_helper
