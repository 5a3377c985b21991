#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace spell_helper {

// A range of a text in UTF-16 code units.
struct TextRange {
  std::size_t location = 0;
  std::size_t length = 0;
};

// The platform's spell checker. Offsets count UTF-16 code units.
class SpellChecker {
 public:
  virtual ~SpellChecker() = default;

  virtual std::vector<std::string> available_languages() = 0;
  // The available language that a requested name stands for; nullopt when
  // none does. Names are compared exactly unless the platform also accepts
  // other spellings (such as language tags) for its own names.
  virtual std::optional<std::string> resolve_language(const std::string& requested,
                                                      const std::vector<std::string>& available);
  // The first misspelled word at or after offset, without wrapping round;
  // nullopt when there is none.
  virtual std::optional<TextRange> next_misspelling(std::u16string_view text, std::size_t offset,
                                                    const std::string& language) = 0;
  // Guesses for the word at range; nullopt when the checker has no answer.
  virtual std::optional<std::vector<std::string>> guesses(std::u16string_view text, TextRange range,
                                                          const std::string& language) = 0;
};

// Defined by the platform's engine folder.
std::unique_ptr<SpellChecker> make_platform_checker();

}  // namespace spell_helper
