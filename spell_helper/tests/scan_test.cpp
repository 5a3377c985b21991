#include <gtest/gtest.h>

#include <limits>

#include "scripted_checker.h"
#include "spell_scan.h"

namespace spell_helper {
namespace {

using testing::ScriptedChecker;

class Scan : public ::testing::Test {
 protected:
  ScriptedChecker checker;
  const std::u16string text = u"Ths is a tset";  // 13 units
};

TEST_F(Scan, ReportsEachWordAndContinuesAfterIt) {
  checker.misspellings = {TextRange{0, 3}, TextRange{9, 4}};
  const auto findings = scan(text, "en", checker);
  ASSERT_TRUE(findings);
  ASSERT_EQ(findings->size(), 2u);
  EXPECT_EQ((*findings)[0].original, "Ths");
  EXPECT_EQ((*findings)[1].start, 9u);
  EXPECT_EQ((*findings)[1].length, 4u);
  EXPECT_EQ((*findings)[1].original, "tset");
  EXPECT_EQ((*findings)[1].suggestions, std::vector<std::string>{"guess"});
  // A word ending exactly at the end of the text ends the scan without another question.
  EXPECT_EQ(checker.offsets_asked, (std::vector<std::size_t>{0, 3}));
  EXPECT_EQ(checker.languages_asked, (std::vector<std::string>{"en", "en"}));
}

TEST_F(Scan, SpentBudgetLeavesLaterWordsWithoutSuggestions) {
  checker.misspellings = {TextRange{0, 3}, TextRange{9, 4}};
  const auto none = scan(text, "en", checker, std::chrono::microseconds(0));
  ASSERT_TRUE(none);
  ASSERT_EQ(none->size(), 2u) << "every misspelling is still reported";
  EXPECT_TRUE((*none)[0].suggestions.empty());
  EXPECT_TRUE((*none)[1].suggestions.empty());
  EXPECT_EQ(checker.guess_calls, 0);
  EXPECT_GT(suggestion_budget(1 << 20), suggestion_budget(0)) << "longer texts get more time";
}

TEST_F(Scan, RepeatedWordIsGuessedOnce) {
  const std::u16string repeated = u"teh cat teh dog tehh teh";
  checker.misspellings = {TextRange{0, 3}, TextRange{8, 3}, TextRange{16, 4}, TextRange{21, 3}};
  const auto findings = scan(repeated, "en", checker);
  ASSERT_TRUE(findings);
  ASSERT_EQ(findings->size(), 4u);
  EXPECT_EQ(checker.guess_calls, 2) << "one look-up for teh, one for tehh";
  for (const Finding& f : *findings) EXPECT_EQ(f.suggestions, std::vector<std::string>{"guess"}) << f.original;
  EXPECT_EQ((*findings)[3].start, 21u);
}

TEST_F(Scan, NoGuessesGiveAnEmptyList) {
  checker.misspellings = {TextRange{0, 3}};
  checker.guess_list = std::nullopt;
  const auto findings = scan(text, "en", checker);
  ASSERT_TRUE(findings);
  EXPECT_TRUE((*findings)[0].suggestions.empty());
}

TEST_F(Scan, EmptyTextAsksNothing) {
  const auto findings = scan(u"", "en", checker);
  ASSERT_TRUE(findings);
  EXPECT_TRUE(findings->empty());
  EXPECT_TRUE(checker.offsets_asked.empty());
}

TEST_F(Scan, InconsistentRangesAbortTheScan) {
  const std::size_t huge = std::numeric_limits<std::size_t>::max();
  const std::vector<std::vector<std::optional<TextRange>>> scripts{
      {TextRange{4, 0}},                   // empty word
      {TextRange{0, 3}, TextRange{1, 2}},  // behind the offset asked for
      {TextRange{10, 4}},                  // runs past the end
      {TextRange{14, 1}},                  // starts past the end
      {TextRange{huge, 2}},                // location + length overflows
      {TextRange{0, 3}, TextRange{4, huge}},
  };
  for (const auto& script : scripts) {
    ScriptedChecker fresh;
    fresh.misspellings.assign(script.begin(), script.end());
    EXPECT_FALSE(scan(text, "en", fresh)) << "script of " << script.size();
  }
}

TEST_F(Scan, OffsetsCountUtf16UnitsAfterNonBmpText) {
  const std::u16string emoji_text = u"\U0001F600\U0001F600 wrld";
  checker.misspellings = {TextRange{5, 4}};
  const auto findings = scan(emoji_text, "en", checker);
  ASSERT_TRUE(findings);
  EXPECT_EQ((*findings)[0].original, "wrld");
}

}  // namespace
}  // namespace spell_helper
