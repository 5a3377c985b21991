#pragma once

#include <optional>
#include <string>
#include <vector>

#include "spell_engine.h"

namespace spell_helper {

struct Finding {
  std::size_t start = 0;   // UTF-16 code units
  std::size_t length = 0;  // UTF-16 code units, never 0
  std::string original;
  std::vector<std::string> suggestions;
};

// Every misspelled word of text in order, or nullopt when the checker gave an
// inconsistent answer (an empty range, a range before the offset asked for,
// or one running past the end of the text).
std::optional<std::vector<Finding>> scan(std::u16string_view text, const std::string& language, SpellChecker& checker);

}  // namespace spell_helper
