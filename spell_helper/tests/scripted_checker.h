#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "spell_engine.h"

namespace spell_helper::testing {

// Answers next_misspelling from a queue of scripted ranges and records the
// offsets it was asked about.
class ScriptedChecker final : public SpellChecker {
 public:
  std::vector<std::string> languages{"en", "en_GB", "de"};
  std::deque<std::optional<TextRange>> misspellings;  // exhausted queue: none found
  std::optional<std::vector<std::string>> guess_list = std::vector<std::string>{"guess"};

  std::vector<std::size_t> offsets_asked;
  std::vector<std::string> languages_asked;
  int guess_calls = 0;

  std::vector<std::string> available_languages() override { return languages; }
  std::optional<TextRange> next_misspelling(std::u16string_view, std::size_t offset,
                                            const std::string& language) override {
    offsets_asked.push_back(offset);
    languages_asked.push_back(language);
    if (misspellings.empty()) return std::nullopt;
    std::optional<TextRange> next = misspellings.front();
    misspellings.pop_front();
    return next;
  }
  std::optional<std::vector<std::string>> guesses(std::u16string_view, TextRange, const std::string&) override {
    ++guess_calls;
    return guess_list;
  }
};

}  // namespace spell_helper::testing
