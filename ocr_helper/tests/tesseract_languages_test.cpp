#include <gtest/gtest.h>

#include "tesseract_languages.h"

namespace ocr_helper::linux_engine {
namespace {

using Names = std::vector<std::string>;

const Names INSTALLED{"chi_sim", "chi_tra", "deu", "eng", "fra", "jpn", "por", "rus", "spa", "srp_latn", "tha", "ukr"};

TEST(TesseractLanguages, OwnNamesExactlyAndTagsByLanguage) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"eng", "eng"},         {"en", "eng"},        {"en-US", "eng"},  {"EN_gb", "eng"},
      {"de-DE", "deu"},       {"pt-BR", "por"},     {"zh", "chi_sim"}, {"zh-CN", "chi_sim"},
      {"zh-Hant", "chi_tra"}, {"zh-TW", "chi_tra"}, {"ja-JP", "jpn"},  {"sr-Latn-RS", "srp_latn"},
      {"chi_sim", "chi_sim"}, {"th", "tha"}};
  for (const auto& [tag, expected] : cases) EXPECT_EQ(resolve_tesseract_language(tag, INSTALLED), expected) << tag;
  for (const std::string tag : {"ENG", "it", "it-IT", "sr", "", "e", "en--US", "english"}) {
    EXPECT_FALSE(resolve_tesseract_language(tag, INSTALLED)) << tag;
  }
}

TEST(TesseractLanguages, ScriptChoosesUpToThreeInstalledLanguagesTheUsersFirst) {
  EXPECT_EQ(languages_for_script("Latin", INSTALLED, std::nullopt, 3), (Names{"eng", "spa", "fra"}));
  EXPECT_EQ(languages_for_script("Latin", INSTALLED, "deu", 3), (Names{"deu", "eng", "spa"}));
  EXPECT_EQ(languages_for_script("Latin", INSTALLED, "rus", 3), (Names{"eng", "spa", "fra"}))
      << "a preferred language of another script is not forced in";
  EXPECT_EQ(languages_for_script("Cyrillic", INSTALLED, "ukr", 3), (Names{"ukr", "rus"}));
  EXPECT_EQ(languages_for_script("Han", INSTALLED, std::nullopt, 3), (Names{"chi_sim", "chi_tra", "jpn"}));
  EXPECT_EQ(languages_for_script("Katakana", INSTALLED, std::nullopt, 3), (Names{"jpn"}));
  EXPECT_EQ(languages_for_script("Thai", INSTALLED, std::nullopt, 3), (Names{"tha"}));
  EXPECT_TRUE(languages_for_script("Arabic", INSTALLED, std::nullopt, 3).empty());
  EXPECT_TRUE(languages_for_script("Klingon", INSTALLED, std::nullopt, 3).empty());
}

TEST(TesseractLanguages, LocaleNamesGiveTheUsersLanguage) {
  EXPECT_EQ(locale_language("de_DE.UTF-8"), "deu");
  EXPECT_EQ(locale_language("pt_BR"), "por");
  EXPECT_EQ(locale_language("zh_TW.UTF-8"), "chi_tra");
  EXPECT_EQ(locale_language("sr_RS@latin"), "srp");
  EXPECT_FALSE(locale_language("C.UTF-8"));
  EXPECT_FALSE(locale_language("POSIX"));
  EXPECT_FALSE(locale_language(""));
}

}  // namespace
}  // namespace ocr_helper::linux_engine
