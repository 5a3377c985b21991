#include <gtest/gtest.h>

#include <string>

#include "model/shortcut_validation.h"
#include "model/unicode_trim.h"

namespace kmx::model {
namespace {

ShortcutList shortcuts(std::initializer_list<std::pair<std::string, uint64_t>> entries) {
  ShortcutList list;
  for (const auto& [accelerator, id] : entries) list.push_back({accelerator, "", id});
  return list;
}

std::string message_of(const ShortcutList& list) {
  const Status status = validate_shortcuts(list);
  if (status.ok()) return "ok";
  EXPECT_EQ(status.error().kind(), KmxError::Kind::InvalidArgument);
  return status.error().message();
}

TEST(ValidateShortcuts, AcceptsEmptyAndDistinctLists) {
  EXPECT_EQ(message_of({}), "ok");
  EXPECT_EQ(message_of(shortcuts({{"Ctrl+A", 1}, {"Ctrl+B", 2}, {"Alt+A", 3}})), "ok");
}

TEST(ValidateShortcuts, RejectsARepeatedIdInDecimal) {
  EXPECT_EQ(message_of(shortcuts({{"Ctrl+A", 18446744073709551615u}, {"Ctrl+B", 18446744073709551615u}})),
            "duplicate shortcut id 18446744073709551615");
}

TEST(ValidateShortcuts, ReportsARepeatedIdBeforeARepeatedAccelerator) {
  EXPECT_EQ(message_of(shortcuts({{"Ctrl+A", 4}, {"Ctrl+A", 4}})), "duplicate shortcut id 4");
}

TEST(ValidateShortcuts, RejectsAnAcceleratorOfOnlyWhiteSpace) {
  EXPECT_EQ(message_of(shortcuts({{" \t ", 7}})), "shortcut 7 has an empty accelerator");
  EXPECT_EQ(message_of(shortcuts({{"", 8}})), "shortcut 8 has an empty accelerator");
  EXPECT_EQ(message_of(shortcuts({{"\xc2\xa0\xe3\x80\x80\n", 9}})), "shortcut 9 has an empty accelerator");
}

TEST(ValidateShortcuts, RepeatsTheHostsTextForADuplicateAfterTrimAndAsciiCase) {
  EXPECT_EQ(message_of(shortcuts({{"Ctrl+A", 1}, {" ctrl+a ", 2}})), "duplicate accelerator  ctrl+a ");
  EXPECT_EQ(message_of(shortcuts({{"\xc2\xa0"
                                   "Ctrl+A",
                                   1},
                                  {"CTRL+A\xe2\x80\xaf", 2}})),
            "duplicate accelerator CTRL+A\xe2\x80\xaf");
}

TEST(ValidateShortcuts, LeavesSpacesInsideAndNonAsciiLettersAlone) {
  // Caught later by the platform's hot-key set, not here.
  EXPECT_EQ(message_of(shortcuts({{"Ctrl+A", 1}, {"Ctrl + A", 2}})), "ok");
  // É and é are different keys to an ASCII-only fold.
  EXPECT_EQ(message_of(shortcuts({{"Ctrl+\xc3\x89", 1}, {"Ctrl+\xc3\xa9", 2}})), "ok");
}

TEST(ValidateShortcuts, StopsAtTheFirstFailingShortcut) {
  EXPECT_EQ(message_of(shortcuts({{"Ctrl+A", 1}, {" ", 2}, {"Ctrl+A", 1}})), "shortcut 2 has an empty accelerator");
}

std::string utf8(char32_t cp) {
  std::string out;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

TEST(TrimWhiteSpace, RemovesEachOfThe25WhiteSpaceCodePointsAtBothEnds) {
  const char32_t white[] = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,   0xA0,   0x1680,
                            0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008,
                            0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};
  for (char32_t cp : white) {
    const std::string ws = utf8(cp);
    EXPECT_EQ(trim_white_space(ws + "Ctrl+A" + ws + ws), "Ctrl+A") << std::hex << static_cast<uint32_t>(cp);
    EXPECT_EQ(trim_white_space(ws + "a" + ws + "b" + ws), "a" + ws + "b");
  }
  size_t count = 0;
  for (char32_t cp = 0; cp < 0x110000; ++cp) count += is_white_space(cp);
  EXPECT_EQ(count, 25u);
}

TEST(TrimWhiteSpace, KeepsLookalikesAndMalformedBytes) {
  // Zero-width space, word joiner and BOM lack the property.
  for (char32_t cp : {0x200Bu, 0x2060u, 0xFEFFu, 0x180Eu}) {
    const std::string text = utf8(cp) + "x" + utf8(cp);
    EXPECT_EQ(trim_white_space(text), text);
  }
  EXPECT_EQ(trim_white_space(" \x80 x \xc2 "), "\x80 x \xc2");
  // An overlong encoding of a space is not a space.
  EXPECT_EQ(trim_white_space("\xc0\xa0x"), "\xc0\xa0x");
  // The tail of a three-byte white space alone is not white space.
  EXPECT_EQ(trim_white_space("x\x80\x80"), "x\x80\x80");
  EXPECT_EQ(trim_white_space("\xe3\x80\x80"), "");
}

}  // namespace
}  // namespace kmx::model
