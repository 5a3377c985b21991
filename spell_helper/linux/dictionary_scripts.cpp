#include "dictionary_scripts.h"

#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/utf16.h>

#include <fstream>
#include <map>

namespace spell_helper::linux_engine {

namespace {

// Enough words to see every script a dictionary is for, read in a moment.
constexpr std::size_t SAMPLED_WORDS = 5000;
constexpr std::size_t SHARE_DIVISOR = 100;

// The script of a word's first letter that belongs to one script only.
std::optional<int> word_script(std::u16string_view word) {
  for (std::size_t i = 0; i < word.size();) {
    UChar32 c;
    U16_NEXT(word.data(), i, word.size(), c);
    UErrorCode status = U_ZERO_ERROR;
    const UScriptCode script = uscript_getScript(c, &status);
    if (U_SUCCESS(status) && script != USCRIPT_COMMON && script != USCRIPT_INHERITED && u_isalpha(c)) return script;
  }
  return std::nullopt;
}

}  // namespace

std::vector<int> dictionary_scripts(const std::string& dic_path, DictionaryCodec& codec) {
  std::ifstream file(dic_path, std::ios::binary);
  std::string line;
  if (!file || !std::getline(file, line)) return {};  // the first line is the word count
  std::map<int, std::size_t> counts;
  std::size_t words = 0;
  while (words < SAMPLED_WORDS && std::getline(file, line)) {
    const std::size_t flags = line.find('/');
    const std::optional<std::u16string> word = codec.decode(line.substr(0, std::min(flags, line.find('\t'))));
    if (!word) continue;
    if (const std::optional<int> script = word_script(*word)) {
      ++counts[*script];
      ++words;
    }
  }
  std::vector<int> scripts;
  for (const auto& [script, count] : counts) {
    if (count * SHARE_DIVISOR >= words) scripts.push_back(script);
  }
  return scripts;
}

}  // namespace spell_helper::linux_engine
