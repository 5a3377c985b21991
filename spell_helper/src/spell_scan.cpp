#include "spell_scan.h"

#include <map>

#include "utf16_text.h"

namespace spell_helper {

std::optional<std::vector<Finding>> scan(std::u16string_view text, const std::string& language, SpellChecker& checker) {
  std::vector<Finding> findings;
  // A word misspelled a hundred times costs one look-up: guessing is the slow part.
  std::map<std::u16string, std::vector<std::string>, std::less<>> guessed;
  std::size_t offset = 0;
  while (offset < text.size()) {
    const std::optional<TextRange> word = checker.next_misspelling(text, offset, language);
    if (!word) break;
    // Written so that no sum can overflow, whatever the checker returns.
    if (word->length == 0 || word->location < offset || word->location > text.size() ||
        word->length > text.size() - word->location) {
      return std::nullopt;
    }
    Finding finding;
    finding.start = word->location;
    finding.length = word->length;
    const std::u16string_view original = text.substr(word->location, word->length);
    finding.original = utf16_to_utf8(original);
    auto known = guessed.find(original);
    if (known == guessed.end()) {
      known =
          guessed.emplace(original, checker.guesses(text, *word, language).value_or(std::vector<std::string>{})).first;
    }
    finding.suggestions = known->second;
    findings.push_back(std::move(finding));
    offset = word->location + word->length;
  }
  return findings;
}

}  // namespace spell_helper
