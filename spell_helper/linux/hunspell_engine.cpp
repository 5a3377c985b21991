#include "hunspell_engine.h"

#include <hunspell/hunspell.hxx>
#include <iconv.h>

#include <algorithm>
#include <filesystem>

#include "utf16_text.h"
#include "word_breaker.h"

namespace spell_helper::linux_engine {

namespace {

namespace fs = std::filesystem;

// Converts between UTF-8 and a dictionary's own encoding.
class Converter {
 public:
  Converter(const std::string& to, const std::string& from) : handle_(iconv_open(to.c_str(), from.c_str())) {}
  ~Converter() {
    if (valid()) iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

  std::optional<std::string> convert(const std::string& in) {
    if (!valid()) return std::nullopt;
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    std::string out(in.size() * 4 + 8, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t src_left = in.size();
    char* dst = out.data();
    std::size_t dst_left = out.size();
    if (iconv(handle_, &src, &src_left, &dst, &dst_left) == static_cast<std::size_t>(-1)) return std::nullopt;
    out.resize(out.size() - dst_left);
    return out;
  }

 private:
  iconv_t handle_;
};

bool is_utf8_name(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
  return name == "UTF-8" || name == "UTF8";
}

}  // namespace

struct HunspellChecker::Dictionary {
  Dictionary(const std::string& aff, const std::string& dic) : speller(aff.c_str(), dic.c_str()) {
    const std::string encoding = speller.get_dict_encoding();
    if (!encoding.empty() && !is_utf8_name(encoding)) {
      to_dictionary = std::make_unique<Converter>(encoding, "UTF-8");
      from_dictionary = std::make_unique<Converter>("UTF-8", encoding);
    }
  }

  std::optional<std::string> encode(const std::string& utf8) {
    return to_dictionary ? to_dictionary->convert(utf8) : utf8;
  }
  std::optional<std::string> decode(const std::string& raw) {
    return from_dictionary ? from_dictionary->convert(raw) : raw;
  }

  // The dictionaries list the ASCII apostrophe; typographic ones are read as it.
  bool correct(std::u16string word) {
    std::replace(word.begin(), word.end(), u'\u2019', u'\'');
    const std::optional<std::string> encoded = encode(utf16_to_utf8(word));
    // A word the dictionary's encoding cannot even express is not in it.
    return encoded && speller.spell(*encoded);
  }

  Hunspell speller;
  std::unique_ptr<Converter> to_dictionary;
  std::unique_ptr<Converter> from_dictionary;
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
    if (fs::is_regular_file(path, error) && fs::is_regular_file(aff, error)) {
      languages.push_back(path.stem().string());
    }
  }
  std::sort(languages.begin(), languages.end());
  return languages;
}

HunspellChecker::Dictionary* HunspellChecker::dictionary(const std::string& language) {
  auto found = loaded_.find(language);
  if (found != loaded_.end()) return found->second.get();
  const std::vector<std::string> languages = available_languages();
  if (std::find(languages.begin(), languages.end(), language) == languages.end()) return nullptr;
  const fs::path base = fs::path(folder_) / language;
  auto loaded = std::make_unique<Dictionary>(base.string() + ".aff", base.string() + ".dic");
  return loaded_.emplace(language, std::move(loaded)).first->second.get();
}

std::optional<TextRange> HunspellChecker::next_misspelling(std::u16string_view text, std::size_t offset,
                                                           const std::string& language) {
  Dictionary* dict = dictionary(language);
  if (dict == nullptr) return std::nullopt;
  while (const std::optional<TextRange> word = next_word(text, offset)) {
    if (!dict->correct(std::u16string(text.substr(word->location, word->length)))) return word;
    offset = word->location + word->length;
  }
  return std::nullopt;
}

std::optional<std::vector<std::string>> HunspellChecker::guesses(std::u16string_view text, TextRange range,
                                                                 const std::string& language) {
  Dictionary* dict = dictionary(language);
  if (dict == nullptr || range.location > text.size()) return std::nullopt;
  std::u16string word(text.substr(range.location, range.length));
  std::replace(word.begin(), word.end(), u'\u2019', u'\'');
  const std::optional<std::string> encoded = dict->encode(utf16_to_utf8(word));
  if (!encoded) return std::nullopt;
  std::vector<std::string> suggestions;
  for (const std::string& raw : dict->speller.suggest(*encoded)) {
    // A malformed guess would make the whole document unwritable.
    std::optional<std::string> utf8 = dict->decode(raw);
    if (utf8 && utf8_to_utf16(*utf8)) suggestions.push_back(std::move(*utf8));
  }
  return suggestions;
}

}  // namespace spell_helper::linux_engine

namespace spell_helper {
std::unique_ptr<SpellChecker> make_platform_checker() { return std::make_unique<linux_engine::HunspellChecker>(); }
}  // namespace spell_helper
