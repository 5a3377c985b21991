#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "spell_engine.h"

namespace spell_helper::linux_engine {

// What a dictionary counts as part of a word besides letters (its WORDCHARS).
struct WordRules {
  std::u16string word_chars;
  // ICU script codes of the dictionary's words; words in other scripts are
  // not its to judge. Empty: every script is checked.
  std::vector<int> scripts;

  bool has_word_char(char16_t c) const { return word_chars.find(c) != std::u16string::npos; }
  bool digits_are_word_chars() const;
};

// The words of text worth checking, in text order, as ranges of UTF-16 units.
// Boundaries come from ICU's word break rules for the locale (dictionary based
// for Thai, Lao, Khmer, Myanmar, Chinese and Japanese). Only segments that hold
// letters are kept; word characters of the dictionary that ICU breaks on join
// the segments around them. Tokens inside URLs, e-mail addresses and code-like
// runs (base64, hashes), file paths, identifiers (snake_case, dotted names)
// and letters of scripts the dictionary does not cover are left out, and so
// are tokens with digits unless the dictionary makes digits word characters.
// Abbreviations with inner dots (e.g, i.e, U.S) are not words to check.
std::vector<TextRange> checkable_words(std::u16string_view text, const std::string& locale, const WordRules& rules);

}  // namespace spell_helper::linux_engine
