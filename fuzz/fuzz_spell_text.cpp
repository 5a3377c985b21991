// spell_helper's text handling: strict UTF-8 decoding (checked against
// ICU's decoder), UTF-16 back to UTF-8, and the word scan of the UTF-16 text,
// whose words must lie in order inside the text, hold no breaking space and
// never be empty.
#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <optional>
#include <string_view>

#include "utf16_text.h"
#include "word_segments.h"

namespace {

// ICU's strict conversion: any malformed sequence fails.
bool icu_accepts(std::string_view utf8) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strFromUTF8(nullptr, 0, &length, utf8.data(), static_cast<int32_t>(utf8.size()), &status);
  return status == U_BUFFER_OVERFLOW_ERROR || status == U_STRING_NOT_TERMINATED_WARNING || U_SUCCESS(status);
}

void check_words(std::u16string_view text, const std::string& locale,
                 const spell_helper::linux_engine::WordRules& rules) {
  std::size_t previous_end = 0;
  for (const spell_helper::TextRange& word : spell_helper::linux_engine::checkable_words(text, locale, rules)) {
    if (word.length == 0 || word.location < previous_end || word.location > text.size() ||
        word.length > text.size() - word.location) {
      std::abort();
    }
    for (std::size_t i = word.location; i < word.location + word.length; ++i) {
      // U+202F joins Mongolian suffixes to their word: the one space a word may hold.
      if (u_isUWhiteSpace(text[i]) && text[i] != u'\u202f') std::abort();
    }
    previous_end = word.location + word.length;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace spell_helper;
  const std::string_view utf8(reinterpret_cast<const char*>(data), size);
  const std::optional<std::u16string> text = utf8_to_utf16(utf8);
  if (text.has_value() != icu_accepts(utf8)) std::abort();
  if (text) {
    if (utf16_to_utf8(*text) != utf8) std::abort();
    check_words(*text, "en_US", linux_engine::WordRules{});
    check_words(*text, "th_TH", linux_engine::WordRules{u"0123456789-.'\u00b7"});
  }
  // Any sequence of UTF-16 units, lone surrogates included, gives valid UTF-8.
  std::u16string units(size / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) units[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
  if (!utf8_to_utf16(utf16_to_utf8(units))) std::abort();
  check_words(units, "ja", linux_engine::WordRules{});
  return 0;
}
