#include "spell_scan.h"

#include "utf16_text.h"

namespace spell_helper {

std::optional<std::vector<Finding>> scan(std::u16string_view text, const std::string& language, SpellChecker& checker) {
  std::vector<Finding> findings;
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
    finding.original = utf16_to_utf8(text.substr(word->location, word->length));
    finding.suggestions = checker.guesses(text, *word, language).value_or(std::vector<std::string>{});
    findings.push_back(std::move(finding));
    offset = word->location + word->length;
  }
  return findings;
}

}  // namespace spell_helper
