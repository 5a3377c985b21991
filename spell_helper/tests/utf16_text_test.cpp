#include <gtest/gtest.h>

#include "utf16_text.h"

namespace spell_helper {
namespace {

TEST(Utf16Text, ConvertsEveryPlane) {
  EXPECT_EQ(utf8_to_utf16("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), std::u16string(u"a\u00e9\u20ac\U0001F600"));
  EXPECT_EQ(utf8_to_utf16("")->size(), 0u);
  EXPECT_EQ(utf8_to_utf16(std::string("a\0b", 3))->size(), 3u);
}

TEST(Utf16Text, RejectsMalformedUtf8) {
  for (const std::string bad : {"\x80", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                                "\xF8\x88\x80\x80\x80", "\xE2\x82", "abc\xF0\x9F\x98", "\xC3\x28", "\xFF"}) {
    EXPECT_FALSE(utf8_to_utf16(bad)) << "accepted a malformed sequence of " << bad.size() << " bytes";
  }
}

TEST(Utf16Text, RoundTripsAndReplacesLoneSurrogates) {
  const std::string text = "na\xC3\xAFve \xF0\x9F\x98\x80 caf\xC3\xA9";
  EXPECT_EQ(utf16_to_utf8(*utf8_to_utf16(text)), text);
  EXPECT_EQ(utf16_to_utf8(std::u16string(1, char16_t(0xD83D)) + u"x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(utf16_to_utf8(std::u16string(1, char16_t(0xDE00))), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace spell_helper
