#include "spell_scan.h"

#include <ctime>
#include <map>

#include "utf16_text.h"

namespace spell_helper {

namespace {

// Processor time rather than wall time: the same text gets the same
// suggestions on a busy machine.
std::chrono::microseconds cpu_time() {
  return std::chrono::microseconds(static_cast<long long>(std::clock()) * 1000000 / CLOCKS_PER_SEC);
}

}  // namespace

std::chrono::microseconds suggestion_budget(std::size_t text_units) {
  return std::chrono::milliseconds(250) + std::chrono::microseconds(3000) * static_cast<long long>(text_units / 1024);
}

std::optional<std::vector<Finding>> scan(std::u16string_view text, const std::string& language, SpellChecker& checker) {
  return scan(text, language, checker, suggestion_budget(text.size()));
}

std::optional<ScanResult> scan_words(std::u16string_view text, const std::string& language, SpellChecker& checker,
                                     std::chrono::microseconds budget) {
  const std::chrono::microseconds deadline = cpu_time() + budget;
  ScanResult result;
  std::size_t offset = 0;
  while (offset < text.size()) {
    const std::optional<TextRange> word = checker.next_misspelling(text, offset, language);
    if (!word) break;
    // Written so that no sum can overflow, whatever the checker returns.
    if (word->length == 0 || word->location < offset || word->location > text.size() ||
        word->length > text.size() - word->location || text.size() > UINT32_MAX) {
      return std::nullopt;
    }
    // A word misspelled a hundred times costs one look-up: guessing is the slow part.
    const std::u16string_view original = text.substr(word->location, word->length);
    auto known = result.guessed.find(original);
    if (known == result.guessed.end() && cpu_time() < deadline) {
      known = result.guessed
                  .emplace(original, checker.guesses(text, *word, language).value_or(std::vector<std::string>{}))
                  .first;
    }
    result.words.push_back({static_cast<std::uint32_t>(word->location), static_cast<std::uint32_t>(word->length),
                            known == result.guessed.end() ? nullptr : &known->second});
    offset = word->location + word->length;
  }
  return result;
}

std::optional<std::vector<Finding>> scan(std::u16string_view text, const std::string& language, SpellChecker& checker,
                                         std::chrono::microseconds budget) {
  const std::optional<ScanResult> result = scan_words(text, language, checker, budget);
  if (!result) return std::nullopt;
  std::vector<Finding> findings;
  for (const ScanResult::Word& word : result->words) {
    Finding finding;
    finding.start = word.location;
    finding.length = word.length;
    finding.original = utf16_to_utf8(text.substr(word.location, word.length));
    if (word.suggestions) finding.suggestions = *word.suggestions;
    findings.push_back(std::move(finding));
  }
  return findings;
}

}  // namespace spell_helper
