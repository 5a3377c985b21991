#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "spell_engine.h"

namespace spell_helper::linux_engine {

// True for Unicode letters (and combining marks, which belong to the letter before them).
bool is_letter(char32_t c);
bool is_apostrophe(char32_t c);

// The first word that starts at or after offset: a run of letters and
// apostrophes, without apostrophes at either end, holding at least one
// letter. Offsets and lengths count UTF-16 units.
std::optional<TextRange> next_word(std::u16string_view text, std::size_t offset);

}  // namespace spell_helper::linux_engine
