#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "child_process.h"
#include "hunspell_engine.h"
#include "spell_scan.h"
#include "temp_folder.h"
#include "utf16_text.h"
#include "word_breaker.h"

namespace spell_helper::linux_engine {
namespace {

using nlohmann::json;
using testing::TempFolder;

std::vector<std::u16string> words_of(const std::u16string& text) {
  std::vector<std::u16string> words;
  std::size_t offset = 0;
  while (auto word = next_word(text, offset)) {
    words.push_back(text.substr(word->location, word->length));
    offset = word->location + word->length;
  }
  return words;
}

TEST(WordBreaker, LettersAndInnerApostrophesMakeWords) {
  EXPECT_EQ(words_of(u"Don't 'quote' it, rock\u2019n\u2019roll!"),
            (std::vector<std::u16string>{u"Don't", u"quote", u"it", u"rock\u2019n\u2019roll"}));
}

TEST(WordBreaker, DigitsAndPunctuationSeparateWords) {
  EXPECT_EQ(words_of(u"abc123def x-y 42"), (std::vector<std::u16string>{u"abc", u"def", u"x", u"y"}));
}

TEST(WordBreaker, UnicodeLettersAndCombiningMarksBelongToWords) {
  EXPECT_EQ(words_of(u"na\u00efve \u0434\u043e\u043c cafe\u0301 \u00ab\u65e5\u672c\u00bb"),
            (std::vector<std::u16string>{u"na\u00efve", u"\u0434\u043e\u043c", u"cafe\u0301", u"\u65e5\u672c"}));
}

TEST(WordBreaker, NonBmpLettersCountTwoUnits) {
  const std::u16string text = u"\U0001F600 \U00010400\U00010401 ok";  // emoji, Deseret letters
  const auto first = next_word(text, 0);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->location, 3u);
  EXPECT_EQ(first->length, 4u);
  EXPECT_FALSE(next_word(u"''  ' 12", 0));
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

TEST_F(SpellProgram, BogusPairLeavesTheInputEmpty) {
  folder.write("a.txt", "Helo");
  const auto run =
      spell({"--command", "check", "--language", "en_US", "--output", out, "--bogus", "--input", folder.file("a.txt")});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(TempFolder::read(out), R"({"ok":false})");
}

}  // namespace
}  // namespace spell_helper::linux_engine
