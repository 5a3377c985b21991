#include "hunspell_engine.h"

#include <hunspell/hunspell.hxx>
#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <filesystem>

#include "dictionary_encoding.h"
#include "dictionary_names.h"
#include "dictionary_scripts.h"
#include "utf16_text.h"
#include "word_segments.h"

namespace spell_helper::linux_engine {

namespace {

namespace fs = std::filesystem;

constexpr char16_t ASCII_APOSTROPHE = u'\'';
constexpr char16_t TYPOGRAPHIC_APOSTROPHE = u'\u2019';

std::u16string replaced(std::u16string word, char16_t from, char16_t to) {
  std::replace(word.begin(), word.end(), from, to);
  return word;
}

// The converter for a dictionary's declared encoding, if it can be used.
std::optional<std::string> usable_converter(const fs::path& aff) {
  const std::optional<std::string> declared = declared_encoding(aff.string());
  if (!declared) return std::nullopt;
  std::optional<std::string> converter = converter_name(*declared);
  if (!converter || !DictionaryCodec(*converter).usable()) return std::nullopt;
  return converter;
}

}  // namespace

struct HunspellChecker::Dictionary {
  Dictionary(const std::string& name, const fs::path& base, const std::string& converter)
      : speller((base.string() + ".aff").c_str(), (base.string() + ".dic").c_str()), codec(converter), locale(name) {
    // WORDCHARS is kept in the dictionary's own encoding.
    rules.word_chars = codec.decode(speller.get_wordchars_cpp()).value_or(std::u16string());
    rules.scripts = dictionary_scripts(base.string() + ".dic", codec);
  }

  bool spelled(const std::u16string& word) {
    const std::optional<std::string> encoded = codec.encode(word);
    // A word the dictionary's encoding cannot even express is not in it.
    return encoded && speller.spell(*encoded);
  }

  // Either apostrophe is accepted whichever one the dictionary lists.
  bool correct(const std::u16string& word) {
    auto known = verdicts.find(word);
    if (known != verdicts.end()) return known->second;
    bool ok = spelled(word);
    if (!ok && word.find(TYPOGRAPHIC_APOSTROPHE) != std::u16string::npos) {
      ok = spelled(replaced(word, TYPOGRAPHIC_APOSTROPHE, ASCII_APOSTROPHE));
    }
    if (!ok && word.find(ASCII_APOSTROPHE) != std::u16string::npos) {
      ok = spelled(replaced(word, ASCII_APOSTROPHE, TYPOGRAPHIC_APOSTROPHE));
    }
    // Bounded: the distinct words of a large text (names, changelogs) would
    // otherwise outgrow the dictionary; most repeats are common words seen early.
    constexpr std::size_t MAX_VERDICTS = 1 << 12;
    if (verdicts.size() >= MAX_VERDICTS) verdicts.clear();
    verdicts.emplace(word, ok);
    return ok;
  }

  // Text written without spaces (Thai) is split by ICU's own dictionary,
  // which lacks words Hunspell's has: แพกเกจ comes out as แพ, ก and เกจ, or
  // even as แพ, ก, เก and จนี้. A fragment is no misspelling when it and up to
  // JOIN_REACH touching fragments on either side can be split anew into
  // words that the dictionary accepts.
  bool rejoins(std::u16string_view text, const std::vector<TextRange>& all, std::size_t k) {
    constexpr std::size_t JOIN_REACH = 2;
    std::size_t first = k;
    while (first > 0 && k - first < JOIN_REACH && touches(all[first - 1], all[first])) --first;
    std::size_t last = k;
    while (last + 1 < all.size() && last - k < JOIN_REACH && touches(all[last], all[last + 1])) ++last;
    for (std::size_t a = first; a <= k; ++a) {
      for (std::size_t b = k; b <= last; ++b) {
        if (a == b) continue;
        const std::size_t start = all[a].location;
        if (splits_into_words(std::u16string(text.substr(start, all[b].location + all[b].length - start)))) return true;
      }
    }
    return false;
  }

  static bool touches(const TextRange& left, const TextRange& right) {
    return left.location + left.length == right.location;
  }

  // Whether run is a sequence of dictionary words, none breaking before a
  // combining mark.
  bool splits_into_words(const std::u16string& run) {
    auto known = splits.find(run);
    if (known != splits.end()) return known->second;
    constexpr std::size_t MAX_RUN = 48;
    bool whole = false;
    if (run.size() <= MAX_RUN) {
      std::vector<bool> reachable(run.size() + 1, false);
      reachable[0] = true;
      for (std::size_t end = 1; end <= run.size(); ++end) {
        if (end < run.size() && is_mark(run[end])) continue;
        for (std::size_t start = 0; start < end && !reachable[end]; ++start) {
          reachable[end] = reachable[start] && correct(run.substr(start, end - start));
        }
      }
      whole = reachable[run.size()];
    }
    splits.emplace(run, whole);
    return whole;
  }

  static bool is_mark(char16_t c) {
    const std::int8_t type = u_charType(c);
    return type == U_NON_SPACING_MARK || type == U_COMBINING_SPACING_MARK || type == U_ENCLOSING_MARK;
  }

  // The words of one stretch of the text being scanned. A scan starts at
  // offset 0 (where they are found anew, since another text may sit at the
  // same address) and then moves forward through the same text, a stretch
  // at a time: the words of a whole large text would take more memory than
  // the text itself.
  const std::vector<TextRange>& words_at(std::u16string_view text, std::size_t offset) {
    const bool same_text = text.data() == words_text && text.size() == words_size && words_ready;
    if (offset == 0 || !same_text || offset < words_begin || offset >= words_end) {
      // Stretches begin and end at white space, where every word breaks.
      std::size_t begin = same_text && offset >= words_end ? words_end : 0;
      std::size_t end = stretch_end(text, begin);
      while (end <= offset) {
        begin = end;
        end = stretch_end(text, begin);
      }
      words = checkable_words(text.substr(begin, end - begin), locale, rules);
      for (TextRange& w : words) w.location += begin;
      words_text = text.data();
      words_size = text.size();
      words_begin = begin;
      words_end = end;
      words_ready = true;
    }
    return words;
  }

  static constexpr std::size_t STRETCH = 1 << 16;

  // The end of the stretch from begin: the first white space after STRETCH
  // units, or, in text without any, a little further at a code point boundary.
  static std::size_t stretch_end(std::u16string_view text, std::size_t begin) {
    if (text.size() - begin <= STRETCH) return text.size();
    const std::size_t limit = std::min(text.size(), begin + 4 * STRETCH);
    for (std::size_t i = begin + STRETCH; i < limit; ++i) {
      if (u_isUWhiteSpace(text[i])) return i;
    }
    return limit < text.size() && U16_IS_TRAIL(text[limit]) ? limit + 1 : limit;
  }

  Hunspell speller;
  DictionaryCodec codec;
  std::string locale;
  WordRules rules;
  std::map<std::u16string, bool, std::less<>> verdicts;
  std::map<std::u16string, bool, std::less<>> splits;
  std::vector<TextRange> words;
  const char16_t* words_text = nullptr;
  std::size_t words_size = 0;
  std::size_t words_begin = 0;
  std::size_t words_end = 0;
  bool words_ready = false;
};

HunspellChecker::HunspellChecker(std::string dictionary_folder) : folder_(std::move(dictionary_folder)) {}

HunspellChecker::~HunspellChecker() = default;

std::vector<std::string> HunspellChecker::available_languages() {
  std::vector<std::string> languages;
  std::error_code error;
  for (fs::directory_iterator it(folder_, error), end; !error && it != end; it.increment(error)) {
    const fs::path& path = it->path();
    if (path.extension() != ".dic") continue;
    fs::path aff = path;
    aff.replace_extension(".aff");
    // A dictionary whose words cannot be converted would call every word misspelled.
    if (fs::is_regular_file(path, error) && fs::is_regular_file(aff, error) && usable_converter(aff)) {
      languages.push_back(path.stem().string());
    }
  }
  std::sort(languages.begin(), languages.end());
  return languages;
}

std::optional<std::string> HunspellChecker::resolve_language(const std::string& requested,
                                                             const std::vector<std::string>& available) {
  return resolve_dictionary(requested, available);
}

HunspellChecker::Dictionary* HunspellChecker::dictionary(const std::string& language) {
  auto found = loaded_.find(language);
  if (found != loaded_.end()) return found->second.get();
  const std::vector<std::string> languages = available_languages();
  if (std::find(languages.begin(), languages.end(), language) == languages.end()) return nullptr;
  const fs::path base = fs::path(folder_) / language;
  fs::path aff = base;
  aff += ".aff";
  const std::optional<std::string> converter = usable_converter(aff);
  if (!converter) return nullptr;
  auto loaded = std::make_unique<Dictionary>(language, base, *converter);
  return loaded_.emplace(language, std::move(loaded)).first->second.get();
}

std::optional<TextRange> HunspellChecker::next_misspelling(std::u16string_view text, std::size_t offset,
                                                           const std::string& language) {
  Dictionary* dict = dictionary(language);
  if (dict == nullptr) return std::nullopt;
  while (offset < text.size()) {
    const std::vector<TextRange>& words = dict->words_at(text, offset);
    auto word = std::lower_bound(words.begin(), words.end(), offset,
                                 [](const TextRange& w, std::size_t at) { return w.location < at; });
    for (; word != words.end(); ++word) {
      std::u16string candidate(text.substr(word->location, word->length));
      if (dict->correct(candidate)) continue;
      // Abbreviations (e.g., usw.) are listed with their dot, which the word
      // break leaves outside the word; the finding stays the word alone.
      const std::size_t end = word->location + word->length;
      if (end < text.size() && text[end] == u'.' && dict->correct(candidate + u'.')) continue;
      if (dict->rejoins(text, words, static_cast<std::size_t>(word - words.begin()))) continue;
      return *word;
    }
    offset = dict->words_end;
  }
  return std::nullopt;
}

std::optional<std::vector<std::string>> HunspellChecker::guesses(std::u16string_view text, TextRange range,
                                                                 const std::string& language) {
  Dictionary* dict = dictionary(language);
  if (dict == nullptr || range.location > text.size()) return std::nullopt;
  std::u16string word(text.substr(range.location, range.length));
  if (dict->rules.has_word_char(ASCII_APOSTROPHE) || !dict->rules.has_word_char(TYPOGRAPHIC_APOSTROPHE)) {
    word = replaced(std::move(word), TYPOGRAPHIC_APOSTROPHE, ASCII_APOSTROPHE);
  }
  const std::optional<std::string> encoded = dict->codec.encode(word);
  if (!encoded) return std::nullopt;
  std::vector<std::string> suggestions;
  for (const std::string& raw : dict->speller.suggest(*encoded)) {
    // A malformed guess would make the whole document unwritable.
    const std::optional<std::u16string> decoded = dict->codec.decode(raw);
    if (decoded) suggestions.push_back(utf16_to_utf8(*decoded));
  }
  return suggestions;
}

}  // namespace spell_helper::linux_engine

namespace spell_helper {
std::unique_ptr<SpellChecker> make_platform_checker() { return std::make_unique<linux_engine::HunspellChecker>(); }
}  // namespace spell_helper
