#pragma once

#include <chrono>
#include <cstdint>
#include <map>
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

// Processor time that guessing may take for one text: 250 ms and 3 ms more
// per 1024 units of text. Guessing costs a hundred times more than checking
// (up to 50 ms a word in German); once the budget is spent, words not yet
// guessed get no suggestions.
std::chrono::microseconds suggestion_budget(std::size_t text_units);

// The misspelled words of a text, compactly: a range each, the suggestions
// held once per distinct word (a large text may hold a hundred thousand).
struct ScanResult {
  struct Word {
    // 32 bits suffice: input files are far smaller than 4 Gi units.
    std::uint32_t location = 0;
    std::uint32_t length = 0;
    const std::vector<std::string>* suggestions = nullptr;  // none: not guessed within the budget
  };
  std::vector<Word> words;
  std::map<std::u16string, std::vector<std::string>, std::less<>> guessed;
};

std::optional<ScanResult> scan_words(std::u16string_view text, const std::string& language, SpellChecker& checker,
                                     std::chrono::microseconds budget);

// Every misspelled word of text in order, or nullopt when the checker gave an
// inconsistent answer (an empty range, a range before the offset asked for,
// or one running past the end of the text). Suggestions within the text's
// suggestion_budget.
std::optional<std::vector<Finding>> scan(std::u16string_view text, const std::string& language, SpellChecker& checker);
std::optional<std::vector<Finding>> scan(std::u16string_view text, const std::string& language, SpellChecker& checker,
                                         std::chrono::microseconds budget);

}  // namespace spell_helper
