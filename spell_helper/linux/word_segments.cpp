#include "word_segments.h"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <memory>
#include <optional>

namespace spell_helper::linux_engine {

namespace {

struct Segment {
  std::size_t start;
  std::size_t end;
  bool letters;  // ICU's rule status says letters, kana or ideographs
  bool number;
};

char32_t code_point_at(std::u16string_view text, std::size_t i, std::size_t* units) {
  const char16_t u = text[i];
  if (U16_IS_LEAD(u) && i + 1 < text.size() && U16_IS_TRAIL(text[i + 1])) {
    *units = 2;
    return U16_GET_SUPPLEMENTARY(u, text[i + 1]);
  }
  *units = 1;
  return u;
}

bool has_digit(std::u16string_view text) {
  for (std::size_t i = 0, n = 1; i < text.size(); i += n) {
    if (u_isdigit(static_cast<UChar32>(code_point_at(text, i, &n)))) return true;
  }
  return false;
}

bool all_word_chars(std::u16string_view text, const WordRules& rules) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [&](char16_t c) { return rules.has_word_char(c); });
}

std::vector<Segment> icu_segments(std::u16string_view text, const std::string& locale) {
  std::vector<Segment> segments;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> words(
      icu::BreakIterator::createWordInstance(icu::Locale::createCanonical(locale.c_str()), status));
  if (U_FAILURE(status) || !words) return segments;
  // The iterator reads the caller's units in place: offsets stay UTF-16 units.
  const icu::UnicodeString string(false, reinterpret_cast<const UChar*>(text.data()),
                                  static_cast<int32_t>(text.size()));
  words->setText(string);
  std::int32_t start = words->first();
  for (std::int32_t end = words->next(); end != icu::BreakIterator::DONE; start = end, end = words->next()) {
    const std::int32_t rule = words->getRuleStatus();
    segments.push_back(Segment{static_cast<std::size_t>(start), static_cast<std::size_t>(end),
                               rule >= UBRK_WORD_LETTER && rule < UBRK_WORD_IDEO_LIMIT,
                               rule >= UBRK_WORD_NUMBER && rule < UBRK_WORD_NUMBER_LIMIT});
  }
  return segments;
}

bool is_space(char32_t c) { return u_isUWhiteSpace(static_cast<UChar32>(c)); }

bool is_wrapping_punctuation(char16_t c) {
  return std::u16string_view(u"()[]{}<>\"'\u2018\u2019\u201c\u201d\u00ab\u00bb,;:!?.").find(c) !=
         std::u16string_view::npos;
}

bool starts_with_ascii_nocase(std::u16string_view text, std::u16string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    const char16_t c = text[i] >= u'A' && text[i] <= u'Z' ? static_cast<char16_t>(text[i] + 32) : text[i];
    if (c != prefix[i]) return false;
  }
  return true;
}

bool is_email(std::u16string_view run) {
  const std::size_t at = run.find(u'@');
  if (at == 0 || at == std::u16string_view::npos || run.find(u'@', at + 1) != std::u16string_view::npos) return false;
  const std::size_t dot = run.find(u'.', at + 1);
  return dot != std::u16string_view::npos && dot > at + 1 && dot + 1 < run.size();
}

// Long runs of base64 or hexadecimal: letters that are not words.
bool is_code_like(std::u16string_view run) {
  constexpr std::size_t MIN_LENGTH = 20;
  if (run.size() < MIN_LENGTH) return false;
  bool digit = false;
  for (char16_t c : run) {
    const bool alnum = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
    if (!alnum && c != u'+' && c != u'/' && c != u'=' && c != u'_' && c != u'-') return false;
    digit = digit || (c >= u'0' && c <= u'9');
  }
  return digit;
}

// /usr/libexec/foo, ~/notes, ./configure, src/app/main.cpp, C:\Temp: the
// parts of a path are names, not words. A single slash between words
// ("and/or") is prose.
bool is_path(std::u16string_view run) {
  const std::size_t slashes = static_cast<std::size_t>(std::count(run.begin(), run.end(), u'/'));
  if (run.find(u'\\') != std::u16string_view::npos) return true;
  if (slashes == 0) return false;
  if (run.front() == u'/' || run.starts_with(u"~/") || run.starts_with(u"./") || run.starts_with(u"../")) return true;
  if (slashes >= 2) return true;
  return run.find(u'.', run.find(u'/')) != std::u16string_view::npos;  // dir/file.ext
}

// Ranges of whitespace-separated runs that are URLs, e-mail addresses, paths or code.
std::vector<TextRange> skipped_runs(std::u16string_view text) {
  std::vector<TextRange> skipped;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t n = 1;
    if (is_space(code_point_at(text, i, &n))) {
      i += n;
      continue;
    }
    std::size_t start = i;
    while (i < text.size() && !is_space(code_point_at(text, i, &n))) i += n;
    std::size_t end = i;
    while (start < end && is_wrapping_punctuation(text[start])) ++start;
    while (end > start && is_wrapping_punctuation(text[end - 1])) --end;
    const std::u16string_view run = text.substr(start, end - start);
    if (run.find(u"://") != std::u16string_view::npos || starts_with_ascii_nocase(run, u"www.") ||
        starts_with_ascii_nocase(run, u"mailto:") || is_email(run) || is_code_like(run) || is_path(run)) {
      skipped.push_back(TextRange{start, end - start});
    }
  }
  return skipped;
}

bool has_letter(std::u16string_view text) {
  for (std::size_t i = 0, n = 1; i < text.size(); i += n) {
    if (u_isalpha(static_cast<UChar32>(code_point_at(text, i, &n)))) return true;
  }
  return false;
}

// The script of the first letter that belongs to one script only.
std::optional<int> script_of(std::u16string_view text) {
  for (std::size_t i = 0, n = 1; i < text.size(); i += n) {
    const auto c = static_cast<UChar32>(code_point_at(text, i, &n));
    UErrorCode status = U_ZERO_ERROR;
    const UScriptCode script = uscript_getScript(c, &status);
    if (U_SUCCESS(status) && script != USCRIPT_COMMON && script != USCRIPT_INHERITED && u_isalpha(c)) return script;
  }
  return std::nullopt;
}

bool is_lower(char16_t c) { return u_islower(c); }

// The words of a token that ICU keeps whole across inner full stops, where
// the dictionary does not count the stop as part of words (as Hunspell's own
// tools split it): e.g, i.e and U.S are abbreviations and os.path.join or
// config.yaml are names, neither is checked; "end.The" is two words run
// together and checked as two.
void push_dotted(std::u16string_view text, std::size_t start, std::size_t end, std::vector<TextRange>& words) {
  std::vector<TextRange> parts;
  for (std::size_t from = start; from <= end;) {
    std::size_t dot = text.substr(0, end).find(u'.', from);
    if (dot == std::u16string_view::npos) dot = end;
    if (dot > from) parts.push_back(TextRange{from, dot - from});
    from = dot + 1;
  }
  constexpr std::size_t ABBREVIATION_PART = 2;
  if (parts.size() == 1) {
    words.push_back(parts.front());
    return;
  }
  if (std::all_of(parts.begin(), parts.end(), [](const TextRange& p) { return p.length <= ABBREVIATION_PART; })) return;
  if (std::all_of(parts.begin() + 1, parts.end(), [&](const TextRange& p) { return is_lower(text[p.location]); })) return;
  for (const TextRange& part : parts) {
    if (has_letter(text.substr(part.location, part.length))) words.push_back(part);
  }
}

}  // namespace

bool WordRules::digits_are_word_chars() const {
  return std::any_of(word_chars.begin(), word_chars.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

std::vector<TextRange> checkable_words(std::u16string_view text, const std::string& locale, const WordRules& rules) {
  const std::vector<Segment> segments = icu_segments(text, locale);
  const std::vector<TextRange> skipped = skipped_runs(text);
  const bool digits_allowed = rules.digits_are_word_chars();
  std::vector<TextRange> words;
  std::size_t next_skip = 0;

  std::size_t i = 0;
  while (i < segments.size()) {
    if (!segments[i].letters && !segments[i].number) {
      ++i;
      continue;
    }
    // A token: word and number segments, joined across the dictionary's word
    // characters where ICU broke on them (de "E-Mail", ca "col·lecció").
    const std::size_t start = segments[i].start;
    std::size_t end = segments[i].end;
    bool letters = segments[i].letters;
    std::size_t j = i + 1;
    // Neighbouring word segments stay apart: Thai or Japanese words touch.
    while (j + 1 < segments.size() && !segments[j].letters && !segments[j].number &&
           (segments[j + 1].letters || segments[j + 1].number) &&
           all_word_chars(text.substr(segments[j].start, segments[j].end - segments[j].start), rules)) {
      letters = letters || segments[j + 1].letters;
      end = segments[j + 1].end;
      j += 2;
    }
    i = j;
    if (!letters) continue;  // numbers are never misspelled
    const std::u16string_view token = text.substr(start, end - start);
    if (!digits_allowed && has_digit(token)) continue;
    while (next_skip < skipped.size() && skipped[next_skip].location + skipped[next_skip].length <= start) ++next_skip;
    if (next_skip < skipped.size() && skipped[next_skip].location < end) continue;
    if (!has_letter(token)) continue;  // a lone @ or other symbol
    // snake_case names in code and comments.
    if (token.find(u'_') != std::u16string_view::npos && !rules.has_word_char(u'_')) continue;
    const std::optional<int> script = script_of(token);
    if (!rules.scripts.empty() && script &&
        std::find(rules.scripts.begin(), rules.scripts.end(), *script) == rules.scripts.end()) {
      continue;  // Han characters in English text
    }
    if (token.find(u'.') != std::u16string_view::npos && !rules.has_word_char(u'.')) {
      push_dotted(text, start, end, words);
      continue;
    }
    words.push_back(TextRange{start, end - start});
  }
  return words;
}

}  // namespace spell_helper::linux_engine
