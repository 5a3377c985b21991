#include "word_breaker.h"

#include <clocale>
#include <cwctype>
#include <locale.h>
#include <wctype.h>

namespace spell_helper::linux_engine {

namespace {

// glibc's built-in C.UTF-8 classifies every Unicode letter, whatever the
// environment's locale is.
locale_t unicode_ctype() {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return locale;
}

bool is_combining_mark(char32_t c) {
  return (c >= 0x0300 && c <= 0x036F) || (c >= 0x1AB0 && c <= 0x1AFF) || (c >= 0x1DC0 && c <= 0x1DFF) ||
         (c >= 0x20D0 && c <= 0x20FF) || (c >= 0xFE20 && c <= 0xFE2F);
}

struct CodePoint {
  char32_t value;
  std::size_t units;
};

CodePoint decode_at(std::u16string_view text, std::size_t i) {
  const char16_t u = text[i];
  if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
    return {0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00), 2};
  }
  return {u, 1};
}

}  // namespace

bool is_letter(char32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  if (is_combining_mark(c)) return true;
  const locale_t locale = unicode_ctype();
  return locale != static_cast<locale_t>(nullptr) && iswalpha_l(static_cast<wint_t>(c), locale) != 0;
}

bool is_apostrophe(char32_t c) { return c == U'\'' || c == U'\u2019'; }

std::optional<TextRange> next_word(std::u16string_view text, std::size_t offset) {
  std::size_t i = offset;
  while (i < text.size()) {
    // Skip to the next letter: a word never starts with an apostrophe.
    CodePoint cp = decode_at(text, i);
    if (!is_letter(cp.value)) {
      i += cp.units;
      continue;
    }
    const std::size_t start = i;
    std::size_t end = i;  // end of the last letter seen
    while (i < text.size()) {
      cp = decode_at(text, i);
      if (is_letter(cp.value)) {
        i += cp.units;
        end = i;
      } else if (is_apostrophe(cp.value)) {
        i += cp.units;
      } else {
        break;
      }
    }
    return TextRange{start, end - start};
  }
  return std::nullopt;
}

}  // namespace spell_helper::linux_engine
