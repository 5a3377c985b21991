#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "spell_engine.h"

namespace spell_helper::linux_engine {

inline constexpr const char* SYSTEM_DICTIONARIES = "/usr/share/hunspell";

// Hunspell with the dictionaries of one folder; a language is the name of a
// dictionary that has both its .aff and .dic file there (such as en_US) and
// whose declared encoding can be converted.
class HunspellChecker final : public SpellChecker {
 public:
  explicit HunspellChecker(std::string dictionary_folder = SYSTEM_DICTIONARIES);
  ~HunspellChecker() override;

  std::vector<std::string> available_languages() override;
  // Exact dictionary names, and BCP 47 tags resolved to the best dictionary.
  std::optional<std::string> resolve_language(const std::string& requested,
                                              const std::vector<std::string>& available) override;
  std::optional<TextRange> next_misspelling(std::u16string_view text, std::size_t offset,
                                            const std::string& language) override;
  std::optional<std::vector<std::string>> guesses(std::u16string_view text, TextRange range,
                                                  const std::string& language) override;

 private:
  struct Dictionary;
  Dictionary* dictionary(const std::string& language);

  std::string folder_;
  std::map<std::string, std::unique_ptr<Dictionary>> loaded_;
};

}  // namespace spell_helper::linux_engine
