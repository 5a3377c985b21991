#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "child_process.h"
#include "hunspell_engine.h"
#include "spell_app.h"
#include "spell_scan.h"
#include "temp_folder.h"
#include "utf16_text.h"
#include "dictionary_encoding.h"
#include "dictionary_names.h"
#include "word_segments.h"

namespace spell_helper::linux_engine {
namespace {

using nlohmann::json;
using testing::TempFolder;

std::vector<std::u16string> words_of(const std::u16string& text, const std::string& locale = "en_US",
                                     const std::u16string& word_chars = u"") {
  std::vector<std::u16string> words;
  for (const TextRange& w : checkable_words(text, locale, WordRules{word_chars, {}})) {
    words.push_back(text.substr(w.location, w.length));
  }
  return words;
}

using Words = std::vector<std::u16string>;

TEST(WordSegments, LettersAndInnerApostrophesMakeWords) {
  EXPECT_EQ(words_of(u"Don't 'quote' it, rock\u2019n\u2019roll!"),
            (Words{u"Don't", u"quote", u"it", u"rock\u2019n\u2019roll"}));
}

TEST(WordSegments, NumbersNeverAndDigitsOnlyWhenTheDictionarySaysSo) {
  const std::u16string text = u"the 2nd and 10th of 42 abc123def x-y";
  EXPECT_EQ(words_of(text), (Words{u"the", u"and", u"of", u"x", u"y"}));
  EXPECT_EQ(words_of(text, "en_US", u"0123456789"),
            (Words{u"the", u"2nd", u"and", u"10th", u"of", u"abc123def", u"x", u"y"}));
}

TEST(WordSegments, UrlsMailAddressesAndCodeAreNotWords) {
  EXPECT_EQ(words_of(u"see https://www.example.com/page.html, (mail ann.lee@example.org) or www.kmx.dev now"),
            (Words{u"see", u"mail", u"or", u"now"}));
  EXPECT_EQ(words_of(u"key: QmFzZTY0IGJsb2Igd2l0aCBsb25nIHJ1bnM/YWJjZGVmZ2hpamtsbW5vcA== end"),
            (Words{u"key", u"end"}));
}

TEST(WordSegments, ScriptsWithMarksJoinersAndMiddleDotsStayWhole) {
  EXPECT_EQ(words_of(u"\u0928\u092e\u0938\u094d\u0924\u0947 \u0926\u0941\u0928\u093f\u092f\u093e", "hi_IN"),
            (Words{u"\u0928\u092e\u0938\u094d\u0924\u0947", u"\u0926\u0941\u0928\u093f\u092f\u093e"}));
  EXPECT_EQ(words_of(u"\u0ba4\u0bae\u0bbf\u0bb4\u0bcd", "ta_IN"), (Words{u"\u0ba4\u0bae\u0bbf\u0bb4\u0bcd"}));
  const std::u16string zwnj_word = u"\u0645\u06cc\u200c\u062e\u0648\u0627\u0647\u0645";
  EXPECT_EQ(words_of(zwnj_word + u" \u06a9\u062a\u0627\u0628", "fa_IR"),
            (Words{zwnj_word, u"\u06a9\u062a\u0627\u0628"}));
  EXPECT_EQ(words_of(u"la col\u00b7lecci\u00f3", "ca", u"\u00b7-'"), (Words{u"la", u"col\u00b7lecci\u00f3"}));
}

TEST(WordSegments, TextWithoutSpacesIsSplitByDictionary) {
  EXPECT_EQ(words_of(u"\u0e20\u0e32\u0e29\u0e32\u0e44\u0e17\u0e22\u0e07\u0e48\u0e32\u0e22", "th_TH"),
            (Words{u"\u0e20\u0e32\u0e29\u0e32", u"\u0e44\u0e17\u0e22", u"\u0e07\u0e48\u0e32\u0e22"}));
  EXPECT_GT(words_of(u"\u65e5\u672c\u8a9e\u306e\u30c6\u30ad\u30b9\u30c8\u3067\u3059", "ja").size(), 2u);
}

TEST(WordSegments, DictionaryWordCharactersJoinWhatIcuBreaks) {
  EXPECT_EQ(words_of(u"eine E-Mail", "de_DE"), (Words{u"eine", u"E", u"Mail"}));
  EXPECT_EQ(words_of(u"eine E-Mail -", "de_DE", u"\u00df-."), (Words{u"eine", u"E-Mail"}));
}

TEST(WordSegments, OffsetsCountUtf16Units) {
  const std::u16string text = u"\U0001F600 \U00010400\U00010401 ok";  // emoji, Deseret letters
  const auto words = checkable_words(text, "en", WordRules{});
  ASSERT_EQ(words.size(), 2u);
  EXPECT_EQ(words[0].location, 3u);
  EXPECT_EQ(words[0].length, 4u);
  EXPECT_TRUE(checkable_words(u"''  ' 12", "en", WordRules{}).empty());
}

TEST(DictionaryEncoding, EveryHunspellNameHasAConverter) {
  for (const char* name : {"UTF-8", "ISO8859-1", "ISO8859-2", "ISO8859-7", "ISO8859-10", "ISO8859-13", "ISO8859-15",
                           "KOI8-R", "KOI8-U", "microsoft-cp1251", "cp1251", "TIS620-2533", "TIS620", "ISO8859-11",
                           "ISCII-DEVANAGARI", "x-iscii-as", "iso-8859-1"}) {
    const auto converter = converter_name(name);
    ASSERT_TRUE(converter) << name;
    EXPECT_TRUE(DictionaryCodec(*converter).usable()) << name << " as " << *converter;
  }
  EXPECT_FALSE(converter_name("x-unknown-42"));
  EXPECT_FALSE(converter_name(""));
}

TEST(DictionaryEncoding, ConvertsBothWaysAndRefusesTheInexpressible) {
  DictionaryCodec cyrillic(*converter_name("microsoft-cp1251"));
  EXPECT_EQ(cyrillic.encode(u"\u0434\u043e\u043c"), std::string("\xE4\xEE\xEC"));
  EXPECT_EQ(cyrillic.decode("\xE4\xEE\xEC"), std::u16string(u"\u0434\u043e\u043c"));
  EXPECT_FALSE(cyrillic.encode(u"\u65e5"));
  DictionaryCodec thai(*converter_name("TIS620-2533"));
  EXPECT_EQ(thai.encode(u"\u0e44\u0e17\u0e22"), std::string("\xE4\xB7\xC2"));
}

TEST(DictionaryNames, ExactNameThenRegionThenLanguage) {
  const std::vector<std::string> installed{"de_AT", "de_DE", "de_DE_frami", "en_AU", "en_GB",
                                           "en_US", "hi_IN", "pt_BR",       "pt_PT", "sr-Latn"};
  const std::vector<std::pair<std::string, std::string>> cases{
      {"en_GB", "en_GB"}, {"en-GB", "en_GB"}, {"EN-gb", "en_GB"},     {"en", "en_US"},          {"en-CA", "en_US"},
      {"de-DE", "de_DE"}, {"de", "de_DE"},    {"de-CH", "de_DE"},     {"pt-BR", "pt_BR"},       {"pt-PT", "pt_PT"},
      {"pt", "pt_BR"},    {"hi", "hi_IN"},    {"sr-Latn", "sr-Latn"}, {"sr-Latn-RS", "sr-Latn"}};
  for (const auto& [tag, expected] : cases) EXPECT_EQ(resolve_dictionary(tag, installed), expected) << tag;
  for (const std::string tag : {"fr", "fr-FR", "", "e", "english", "en--", "sr-Cyrl"}) {
    EXPECT_FALSE(resolve_dictionary(tag, installed)) << tag;
  }
  EXPECT_EQ(resolve_dictionary("de", {"de", "de_DE"}), "de") << "a dictionary of the language alone fits best";
}

class SystemDictionary : public ::testing::Test {
 protected:
  std::vector<Finding> check(const std::string& utf8) {
    const auto findings = scan(*utf8_to_utf16(utf8), "en_US", checker);
    EXPECT_TRUE(findings);
    return findings.value_or(std::vector<Finding>{});
  }
  HunspellChecker checker;
};

TEST_F(SystemDictionary, ListsTheInstalledDictionary) {
  const auto languages = checker.available_languages();
  EXPECT_NE(std::find(languages.begin(), languages.end(), "en_US"), languages.end());
}

TEST_F(SystemDictionary, FindsMisspellingsWithOffsetsAndGuesses) {
  const auto findings = check("The quick brwn fox can't jumpp over the dog's bone.");
  ASSERT_EQ(findings.size(), 2u);
  EXPECT_EQ(findings[0].start, 10u);
  EXPECT_EQ(findings[0].original, "brwn");
  EXPECT_EQ(findings[1].start, 25u);
  EXPECT_EQ(findings[1].length, 5u);
  EXPECT_EQ(findings[1].original, "jumpp");
  EXPECT_NE(std::find(findings[1].suggestions.begin(), findings[1].suggestions.end(), "jump"),
            findings[1].suggestions.end());
}

TEST_F(SystemDictionary, LongTextIsCheckedStretchByStretch) {
  // Words are found a stretch of text at a time; typos on either side of
  // every stretch boundary, and in text without white space, are all found.
  std::u16string text;
  std::vector<std::size_t> typos;
  while (text.size() < 300000) {
    text += u"The quick brown fox jumps over the lazy dog. ";
    if (text.size() % 7 == 0) {
      typos.push_back(text.size());
      text += u"wrold ";
    }
  }
  text += std::u16string(70000, u'a') + u" wrold";
  typos.push_back(text.size() - 5);
  const auto findings = scan(text, "en_US", checker, std::chrono::microseconds(0));
  ASSERT_TRUE(findings);
  std::vector<std::size_t> starts;
  for (const Finding& f : *findings) {
    if (f.original == "wrold") starts.push_back(f.start);
  }
  EXPECT_EQ(starts, typos);
  EXPECT_EQ(findings->size(), typos.size() + 1) << "the run of a's is one more";
}

TEST_F(SystemDictionary, TypographicApostropheIsAccepted) { EXPECT_TRUE(check("It doesn\u2019t matter.").empty()); }

TEST_F(SystemDictionary, OffsetsAfterNonBmpTextAndAccentedLetters) {
  // The dictionary has no accented words, so "café" is reported too.
  const auto findings = check("\xF0\x9F\x98\x80\xF0\x9F\x98\x80 caf\xC3\xA9 wrold");
  ASSERT_EQ(findings.size(), 2u);
  EXPECT_EQ(findings[0].start, 5u);  // two emoji of two units each, then a space
  EXPECT_EQ(findings[0].length, 4u);
  EXPECT_EQ(findings[0].original, "caf\xC3\xA9");
  EXPECT_EQ(findings[1].start, 10u);
  EXPECT_EQ(findings[1].original, "wrold");
  EXPECT_FALSE(findings[1].suggestions.empty());
}

TEST_F(SystemDictionary, OrdinalsUrlsAddressesAndBlobsAreNotMisspelled) {
  std::string blob;
  for (int i = 0; i < 40; ++i) blob += "TG9yZW0gaXBzdW0gZG9sb3Igc2l0IGFtZXQsIGNvbnNlY3RldHVy+/";
  const auto findings = check(
      "The 2nd and 10th visitors read https://www.example.com/index.html and wrote to "
      "ann@example.org, then pasted " +
      blob + " and a wrold.");
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].original, "wrold");
}

TEST_F(SystemDictionary, AbbreviationsSymbolsPathsForeignScriptsAndIdentifiersAreNotMisspelled) {
  // Man page and source comment text: only the two typos are misspelled
  // words, the rest is abbreviations, names and another script.
  const auto findings = check(
      "TAR(1)\n\nOptions, e.g. --list, i.e. the archive; e.g and i.e without the last dot.\n"
      "Reach the maintainers @ the list. The helper lives in /usr/libexec/tar/rmt, logs go to\n"
      "/var/log/tar.log and ~/notes, sources to src/archive/reader.cpp and ./configure.\n"
      "The word \xE6\xBC\xA2\xE5\xAD\x97 (kanji) is Han. Set max_block_size or call os.path.join on\n"
      "config.yaml; the U.S. office reads and/or writes. A wrold ends here.Anothr starts.\n");
  std::vector<std::string> words;
  for (const Finding& f : findings) words.push_back(f.original);
  EXPECT_EQ(words, (std::vector<std::string>{"wrold", "Anothr"}));
}

class Dictionaries : public ::testing::Test {
 protected:
  std::vector<std::string> misspelled(const std::string& language, const std::string& utf8) {
    const auto findings = scan(*utf8_to_utf16(utf8), language, checker);
    EXPECT_TRUE(findings) << language;
    std::vector<std::string> words;
    for (const Finding& f : findings.value_or(std::vector<Finding>{})) words.push_back(f.original);
    return words;
  }
  HunspellChecker checker;
};

TEST_F(Dictionaries, GermanHindiPersianThaiAndCatalanWordsAreCheckedWhole) {
  using Strings = std::vector<std::string>;
  EXPECT_EQ(misspelled("de_DE", "Die Stra\u00dfe ist sch\u00f6n, der Huund bellt per E-Mail."), Strings{"Huund"});
  EXPECT_EQ(misspelled("hi_IN",
                       "\u092d\u093e\u0930\u0924 \u090f\u0915 \u0926\u0947\u0936 \u0939\u0948 "
                       "\u0926\u0941\u0928\u093f\u092f\u093e\u0915\u094d\u0937"),
            Strings{"\u0926\u0941\u0928\u093f\u092f\u093e\u0915\u094d\u0937"});
  EXPECT_EQ(misspelled("fa_IR",
                       "\u0645\u06cc\u200c\u062e\u0648\u0627\u0647\u0645 \u06a9\u062a\u0627\u0628 "
                       "\u06a9\u062a\u0627\u0628\u0642\u0642"),
            Strings{"\u06a9\u062a\u0627\u0628\u0642\u0642"});
  EXPECT_EQ(misspelled("th_TH", "\u0e20\u0e32\u0e29\u0e32\u0e44\u0e17\u0e22\u0e07\u0e48\u0e32\u0e22"), Strings{});
  EXPECT_EQ(misspelled("ca", "Una col\u00b7lecci\u00f3 d\u2019art i l'escola."), Strings{});
}

TEST_F(Dictionaries, ThaiFragmentsThatRejoinIntoDictionaryWordsAreNotMisspelled) {
  // "The user installs a new package, then removes the old package; this
  // package works well. My computer is very slow ... with happiness": ICU
  // splits แพกเกจ (package) into fragments; คอมพิวเตรอ์ and ควมสุข are typos.
  const std::u16string package = u"\u0e41\u0e1e\u0e01\u0e40\u0e01\u0e08";
  const std::u16string computer_typo = u"\u0e04\u0e2d\u0e21\u0e1e\u0e34\u0e27\u0e40\u0e15\u0e23\u0e2d\u0e4c";
  const std::u16string happiness_typo = u"\u0e04\u0e27\u0e21\u0e2a\u0e38\u0e02";
  const std::u16string text = u"\u0e1c\u0e39\u0e49\u0e43\u0e0a\u0e49\u0e15\u0e34\u0e14\u0e15\u0e31\u0e49\u0e07" +
                              package + u"\u0e43\u0e2b\u0e21\u0e48 \u0e41\u0e25\u0e49\u0e27\u0e25\u0e1a" + package +
                              u"\u0e40\u0e01\u0e48\u0e32\u0e2d\u0e2d\u0e01 " + package +
                              u"\u0e19\u0e35\u0e49\u0e17\u0e33\u0e07\u0e32\u0e19\u0e44\u0e14\u0e49\u0e14\u0e35\n"
                              u"\u0e40\u0e04\u0e23\u0e37\u0e48\u0e2d\u0e07" +
                              computer_typo + u"\u0e02\u0e2d\u0e07\u0e09\u0e31\u0e19\u0e0a\u0e49\u0e32\u0e21\u0e32\u0e01 "
                              u"\u0e42\u0e1b\u0e23\u0e41\u0e01\u0e23\u0e21\u0e14\u0e49\u0e27\u0e22" +
                              happiness_typo + u"\n";
  const auto findings = scan(text, "th_TH", checker);
  ASSERT_TRUE(findings);
  auto inside = [&](const Finding& f, const std::u16string& word) {
    for (std::size_t at = text.find(word); at != std::u16string::npos; at = text.find(word, at + 1)) {
      if (f.start >= at && f.start + f.length <= at + word.size()) return true;
    }
    return false;
  };
  std::size_t computer = 0, happiness = 0;
  for (const Finding& f : *findings) {
    EXPECT_FALSE(inside(f, package)) << f.original << " at " << f.start;
    computer += inside(f, computer_typo);
    happiness += inside(f, happiness_typo);
  }
  EXPECT_GE(computer, 1u);
  EXPECT_GE(happiness, 1u);
  EXPECT_EQ(findings->size(), computer + happiness);
}

TEST_F(Dictionaries, AbbreviationsKeepTheirDot) {
  using Strings = std::vector<std::string>;
  EXPECT_EQ(misspelled("de_DE", "Das ist z.B. ein Haus, usw. und ca. f\u00fcnf Huuser."), Strings{"Huuser"});
}

TEST(LegacyEncodedDictionary, HunspellAliasNameOfCp1251IsConverted) {
  TempFolder folder("spell_cp1251");
  // "microsoft-cp1251" is Hunspell's name; the system converter calls it CP1251.
  folder.write("ru_XX.aff", "SET microsoft-cp1251\nTRY \xEE\xE5\xE0\xE8\xED\xF2\xF1\xF0\xE2\xEB\xEA\xEC\xE4\xEF\xF3\n");
  folder.write("ru_XX.dic", "2\n\xE4\xEE\xEC\n\xEA\xEE\xF2\n");  // дом, кот
  folder.write("xx_YY.aff", "SET x-unknown-42\n");
  folder.write("xx_YY.dic", "1\nword\n");
  HunspellChecker checker(folder.file(""));
  EXPECT_EQ(checker.available_languages(), std::vector<std::string>{"ru_XX"}) << "an unusable encoding is not listed";
  const std::u16string text = u"\u0434\u043e\u043c \u043a\u043e\u0442 \u0434\u043e\u043c\u043c";
  const auto findings = scan(text, "ru_XX", checker);
  ASSERT_TRUE(findings);
  ASSERT_EQ(findings->size(), 1u);
  EXPECT_EQ((*findings)[0].start, 8u);
  EXPECT_EQ((*findings)[0].suggestions, std::vector<std::string>{"\u0434\u043e\u043c"});
  EXPECT_FALSE(checker.resolve_language("xx_YY", checker.available_languages()));
}

TEST_F(SystemDictionary, ANewTextInTheSameBufferIsScannedAnew) {
  std::u16string text = u"good wrold";
  ASSERT_EQ(checker.next_misspelling(text, 0, "en_US")->location, 5u);
  text.replace(0, 10, u"wrold good");  // same address, same length
  const auto first = checker.next_misspelling(text, 0, "en_US");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->location, 0u);
  EXPECT_EQ(first->length, 5u);
}

TEST_F(SystemDictionary, UnknownLanguageFindsNothing) { EXPECT_FALSE(checker.next_misspelling(u"xyzzyq", 0, "xx_XX")); }

TEST(LegacyEncodedDictionary, WordsAndGuessesAreConverted) {
  TempFolder folder("spell_dict");
  folder.write("xx_LT.aff", "SET ISO8859-1\nTRY abcdefghijklmnopqrstuvwxyz\xE9\n");
  folder.write("xx_LT.dic", "2\ncaf\xE9\nsoleil\n");
  folder.write("orphan.dic", "1\nword\n");
  HunspellChecker checker(folder.file(""));
  EXPECT_EQ(checker.available_languages(), std::vector<std::string>{"xx_LT"});
  const std::u16string text = u"caf\u00e9 cafe soleil";
  const auto word = checker.next_misspelling(text, 0, "xx_LT");
  ASSERT_TRUE(word);
  EXPECT_EQ(word->location, 5u);
  const auto guesses = checker.guesses(text, *word, "xx_LT");
  ASSERT_TRUE(guesses);
  EXPECT_EQ(*guesses, std::vector<std::string>{"caf\xC3\xA9"});
}

class SpellProgram : public ::testing::Test {
 protected:
  testing::ChildResult spell(const std::vector<std::string>& args) {
    return testing::run_child(SPELL_HELPER_PATH, args);
  }
  TempFolder folder{"spell_program"};
  const std::string out = folder.file("r.json");
};

TEST_F(SpellProgram, NoArgumentsExitTwoAndPrintNothing) {
  const auto run = spell({});
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(run.out.empty());
  EXPECT_TRUE(run.err.empty());
}

TEST_F(SpellProgram, LanguagesGoToTheOutputFileOnly) {
  const auto run = spell({"--output", out});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.out.empty());
  EXPECT_TRUE(run.err.empty());
  const json doc = json::parse(TempFolder::read(out));
  EXPECT_EQ(doc["ok"], true);
  const auto languages = doc["languages"].get<std::vector<std::string>>();
  EXPECT_NE(std::find(languages.begin(), languages.end(), "en_US"), languages.end());
}

TEST_F(SpellProgram, CheckFileWithKnownMisspellings) {
  const std::string input = folder.write("text.txt", "Helo wrld,\nthis is a tset.\n");
  const auto run = spell({"--command", "check", "--input", input, "--output", out, "--language", "en_US"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.out.empty());
  EXPECT_TRUE(run.err.empty());
  const json doc = json::parse(TempFolder::read(out));
  ASSERT_EQ(doc["ok"], true);
  const json& findings = doc["findings"];
  ASSERT_EQ(findings.size(), 3u);
  const std::vector<std::pair<int, std::string>> expected{{0, "Helo"}, {5, "wrld"}, {21, "tset"}};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(findings[i]["start"], expected[i].first);
    EXPECT_EQ(findings[i]["length"], expected[i].second.size());
    EXPECT_EQ(findings[i]["original"], expected[i].second);
    EXPECT_FALSE(findings[i]["suggestions"].empty()) << expected[i].second;
  }
}

TEST_F(SpellProgram, UnavailableLanguageIsRefused) {
  const std::string input = folder.write("text.txt", "Helo");
  const auto run = spell({"--command", "check", "--input", input, "--output", out, "--language", "xx"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(TempFolder::read(out), R"({"ok":false})");
}

TEST_F(SpellProgram, LanguageTagsResolveToInstalledDictionaries) {
  const std::string input = folder.write("text.txt", "Helo");
  for (const std::string tag : {"en", "en-US", "en-GB", "en_US"}) {
    const auto run = spell({"--command", "check", "--input", input, "--output", out, "--language", tag});
    EXPECT_EQ(run.status, 0);
    const json doc = json::parse(TempFolder::read(out));
    ASSERT_EQ(doc["ok"], true) << tag;
    EXPECT_EQ(doc["findings"].size(), 1u) << tag;
  }
  const auto languages = json::parse((spell({"--output", out}), TempFolder::read(out)))["languages"];
  EXPECT_EQ(std::count(languages.begin(), languages.end(), "en"), 0) << "the list keeps the dictionaries' names";
}

TEST_F(SpellProgram, UnusableDictionaryNamedByTheHostIsRefused) {
  TempFolder dicts("spell_unusable");
  dicts.write("zz_ZZ.aff", "SET x-unknown-42\n");
  dicts.write("zz_ZZ.dic", "1\nword\n");
  HunspellChecker checker(dicts.file(""));
  const std::string input = folder.write("text.txt", "word wrod");
  const std::vector<std::string> args{"spell_helper", "--command", "check",      "--input", input,
                                      "--output",     out,         "--language", "zz_ZZ"};
  EXPECT_EQ(run_program(args, checker), 0);
  EXPECT_EQ(TempFolder::read(out), R"({"ok":false})");
}

TEST_F(SpellProgram, TextWithNulBytesIsNotText) {
  // UTF-16LE without a byte order mark, as Windows tools save it: every
  // other byte is NUL, and each pair still decodes as UTF-8.
  const std::string prose = "This sentense has two mispelled words.\r\n";
  std::string utf16;
  for (char c : prose) utf16 += std::string{c, '\0'};
  const std::string input = folder.write("utf16.txt", utf16);
  const auto run = spell({"--command", "check", "--input", input, "--output", out, "--language", "en_US"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(TempFolder::read(out), R"({"ok":false})");
}

TEST_F(SpellProgram, StreamsDevicesAndHugeFilesAreRefusedAtOnce) {
  const std::string fifo = folder.file("stream.txt");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string huge = folder.write("huge.txt", "A wrold of text.\n");
  std::filesystem::resize_file(huge, MAX_INPUT_BYTES + 1);
  for (const std::string& input : {fifo, std::string("/dev/zero"), huge}) {
    std::filesystem::remove(out);
    // Bounded by timeout(1) so that a hang fails the test instead of stalling it.
    const auto run = testing::run_child(
        "/usr/bin/timeout", {"60", SPELL_HELPER_PATH, "--command", "check", "--input", input, "--output", out,
                             "--language", "en_US"});
    EXPECT_EQ(run.status, 0) << input;
    EXPECT_EQ(TempFolder::read(out), R"({"ok":false})") << input;
  }
}

TEST_F(SpellProgram, BogusPairLeavesTheInputEmpty) {
  folder.write("a.txt", "Helo");
  const auto run =
      spell({"--command", "check", "--language", "en_US", "--output", out, "--bogus", "--input", folder.file("a.txt")});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(TempFolder::read(out), R"({"ok":false})");
}

}  // namespace
}  // namespace spell_helper::linux_engine
