#include <gtest/gtest.h>

#include <string>

#include "error/utf8.h"

namespace kmx::error {
namespace {

bool valid(std::string_view bytes) { return is_valid_utf8(bytes); }

TEST(Utf8, AcceptsWellFormedTextAtEveryLengthBoundary) {
  EXPECT_TRUE(valid(""));
  EXPECT_TRUE(valid("Ctrl+Shift+K"));
  EXPECT_TRUE(valid("\x7f"));
  EXPECT_TRUE(valid("\xc2\x80"));          // U+0080
  EXPECT_TRUE(valid("\xdf\xbf"));          // U+07FF
  EXPECT_TRUE(valid("\xe0\xa0\x80"));      // U+0800
  EXPECT_TRUE(valid("\xed\x9f\xbf"));      // U+D7FF, just below the surrogates
  EXPECT_TRUE(valid("\xee\x80\x80"));      // U+E000, just above them
  EXPECT_TRUE(valid("\xef\xbf\xbf"));      // U+FFFF
  EXPECT_TRUE(valid("\xf0\x90\x80\x80"));  // U+10000
  EXPECT_TRUE(valid("\xf4\x8f\xbf\xbf"));  // U+10FFFF
  EXPECT_TRUE(valid("Ctrl+\xc3\xa9 \xe2\x80\x83"));
}

TEST(Utf8, RejectsOverlongForms) {
  EXPECT_FALSE(valid("\xc0\xaf"));
  EXPECT_FALSE(valid("\xc1\xbf"));
  EXPECT_FALSE(valid("\xe0\x9f\xbf"));
  EXPECT_FALSE(valid("\xf0\x8f\xbf\xbf"));
}

TEST(Utf8, RejectsSurrogatesAndCodePointsAboveTheLast) {
  EXPECT_FALSE(valid("\xed\xa0\x80"));      // U+D800
  EXPECT_FALSE(valid("\xed\xbf\xbf"));      // U+DFFF
  EXPECT_FALSE(valid("\xf4\x90\x80\x80"));  // U+110000
  EXPECT_FALSE(valid("\xf5\x80\x80\x80"));
  EXPECT_FALSE(valid("\xff"));
}

TEST(Utf8, RejectsTruncatedAndStrayBytes) {
  EXPECT_FALSE(valid("\x80"));
  EXPECT_FALSE(valid("a\xbf"));
  EXPECT_FALSE(valid("\xc3"));
  EXPECT_FALSE(valid("\xe2\x80"));
  EXPECT_FALSE(valid("\xf0\x9f\x98"));
  EXPECT_FALSE(valid("\xe2\x80x"));
  EXPECT_FALSE(valid("\xc3\xa9\xc3"));
}

// Brute force over every two- and three-byte sequence against the
// definition: decode, then require shortest form and a scalar value.
TEST(Utf8, AgreesWithTheDefinitionOnAllShortSequences) {
  auto by_definition = [](const unsigned char* b, size_t n) {
    const size_t len = b[0] < 0x80 ? 1 : (b[0] & 0xE0) == 0xC0 ? 2 : (b[0] & 0xF0) == 0xE0 ? 3 : 0;
    if (len == 0 || len != n) return false;
    uint32_t cp = len == 1 ? b[0] : len == 2 ? (b[0] & 0x1Fu) : (b[0] & 0x0Fu);
    for (size_t i = 1; i < len; ++i) {
      if ((b[i] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (b[i] & 0x3Fu);
    }
    const uint32_t min = len == 1 ? 0 : len == 2 ? 0x80 : 0x800;
    return cp >= min && !(cp >= 0xD800 && cp <= 0xDFFF);
  };
  for (unsigned a = 0; a < 0x100; ++a) {
    for (unsigned b = 0; b < 0x100; ++b) {
      unsigned char two[] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b)};
      ASSERT_EQ(valid({reinterpret_cast<char*>(two), 2}), by_definition(two, 2) || (a < 0x80 && b < 0x80));
      if (a < 0xE0 || a > 0xEF) continue;
      for (unsigned c = 0; c < 0x100; ++c) {
        unsigned char three[] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                 static_cast<unsigned char>(c)};
        ASSERT_EQ(valid({reinterpret_cast<char*>(three), 3}), by_definition(three, 3)) << a << " " << b << " " << c;
      }
    }
  }
}

TEST(OwnedText, CopiesValidText) {
  std::string host = "Ctrl+\xc3\xa9";
  auto text = owned_text(host.c_str(), "accelerator");
  ASSERT_TRUE(text.ok());
  host[0] = 'X';  // the copy no longer refers to the caller's memory
  EXPECT_EQ(text.value(), "Ctrl+\xc3\xa9");
  EXPECT_EQ(owned_text("", "description").value(), "");
}

TEST(OwnedText, NamesTheFieldWhenNullOrNotUtf8) {
  auto null = owned_text(nullptr, "description");
  ASSERT_FALSE(null.ok());
  EXPECT_EQ(null.error().display(), "invalid argument: description is null");
  auto bad = owned_text("Ctrl+\xff", "accelerator");
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.error(), KmxError::invalid_argument("accelerator is not UTF-8"));
}

}  // namespace
}  // namespace kmx::error
