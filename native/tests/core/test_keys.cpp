#include <gtest/gtest.h>

#include <set>
#include <string>

#include "model/keys.h"

namespace kmx::model {
namespace {

TEST(KeyTable, HasTheRowCountsOfThePublishedTable) {
  EXPECT_EQ(PORTABLE_KEYS.size(), 107u);
  EXPECT_EQ(PORTABLE_MODIFIERS.size(), 8u);
}

TEST(KeyTable, UsagesAndNamesAreUniqueAcrossBothTables) {
  std::set<uint32_t> usages;
  std::set<std::string_view> names;
  for (const auto* table : {&PORTABLE_KEYS, &PORTABLE_MODIFIERS}) {
    for (const KeyRow& row : *table) {
      EXPECT_TRUE(usages.insert(row.usage).second) << error::hex(row.usage);
      EXPECT_TRUE(names.insert(row.name).second) << row.name;
    }
  }
}

TEST(KeyTable, KeyUsagesLieBetween0x04And0x73AndModifiersFollowTheirIndex) {
  for (const KeyRow& row : PORTABLE_KEYS) {
    EXPECT_GE(row.usage, 0x04u);
    EXPECT_LE(row.usage, 0x73u);
  }
  for (size_t i = 0; i < PORTABLE_MODIFIERS.size(); ++i) EXPECT_EQ(PORTABLE_MODIFIERS[i].usage, 0xE0 + i);
}

TEST(KeyTable, RowsKeepTheTableOrder) {
  EXPECT_EQ(PORTABLE_KEYS.front().name, "KeyA");
  EXPECT_EQ(PORTABLE_KEYS[25].name, "KeyZ");
  EXPECT_EQ(PORTABLE_KEYS[26].name, "Digit1");
  EXPECT_EQ(PORTABLE_KEYS[35].name, "Digit0");
  // F13..F24 follow F12, then PrintScreen, although their usages are higher.
  EXPECT_EQ(PORTABLE_KEYS[65].name, "F13");
  EXPECT_EQ(PORTABLE_KEYS[77].name, "PrintScreen");
  EXPECT_EQ(PORTABLE_KEYS.back().name, "NumpadDecimal");
}

struct Expected {
  uint32_t usage;
  std::string_view name;
  std::optional<uint32_t> windows_vk, macos_keycode, x11_keysym;
};

TEST(KeyTable, SampledRowsCarryTheirCodesInEveryColumn) {
  const Expected rows[] = {
      {0x04, "KeyA", 0x41, 0x00, 0x0061},          {0x0E, "KeyK", 0x4B, 0x28, 0x006B},
      {0x27, "Digit0", 0x30, 0x1D, 0x0030},        {0x28, "Enter", 0x0D, 0x24, 0xFF0D},
      {0x2D, "Minus", 0xBD, 0x1B, 0x002D},         {0x31, "Backslash", 0xDC, 0x2A, 0x005C},
      {0x39, "CapsLock", 0x14, 0x39, 0xFFE5},      {0x3C, "F3", 0x72, 0x63, 0xFFC0},
      {0x6F, "F20", 0x83, 0x5A, 0xFFD1},           {0x73, "F24", 0x87, std::nullopt, 0xFFD5},
      {0x4C, "Delete", 0x2E, 0x75, 0xFFFF},        {0x52, "ArrowUp", 0x26, 0x7E, 0xFF52},
      {0x58, "NumpadEnter", 0x0D, 0x4C, 0xFF8D},   {0x62, "Numpad0", 0x60, 0x52, 0xFFB0},
      {0x63, "NumpadDecimal", 0x6E, 0x41, 0xFFAE},
  };
  for (const Expected& e : rows) {
    const KeyRow* row = key_by_usage(e.usage);
    ASSERT_NE(row, nullptr) << error::hex(e.usage);
    EXPECT_EQ(row->name, e.name);
    EXPECT_EQ(row->windows_vk, e.windows_vk) << e.name;
    EXPECT_EQ(row->macos_keycode, e.macos_keycode) << e.name;
    EXPECT_EQ(row->x11_keysym, e.x11_keysym) << e.name;
  }
}

TEST(KeyTable, ModifiersShareWindowsKeysButNotMacosCodes) {
  const Expected rows[] = {
      {0xE0, "LeftControl", 0x11, 0x3B, 0xFFE3},  {0xE1, "LeftShift", 0x10, 0x38, 0xFFE1},
      {0xE2, "LeftAlt", 0x12, 0x3A, 0xFFE9},      {0xE3, "LeftMeta", 0x5B, 0x37, 0xFFEB},
      {0xE4, "RightControl", 0x11, 0x3E, 0xFFE4}, {0xE5, "RightShift", 0x10, 0x3C, 0xFFE2},
      {0xE6, "RightAlt", 0x12, 0x3D, 0xFFEA},     {0xE7, "RightMeta", 0x5C, 0x36, 0xFFEC},
  };
  for (const Expected& e : rows) {
    const KeyRow* row = modifier_by_usage(e.usage);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->name, e.name);
    EXPECT_EQ(row->windows_vk, e.windows_vk) << e.name;
    EXPECT_EQ(row->macos_keycode, e.macos_keycode) << e.name;
    EXPECT_EQ(row->x11_keysym, e.x11_keysym) << e.name;
  }
}

TEST(KeyTable, OnlyTheEightKeysMacosLacksHaveNoMacosCode) {
  std::set<std::string_view> absent;
  for (const KeyRow& row : PORTABLE_KEYS) {
    if (!row.macos_keycode) absent.insert(row.name);
    EXPECT_TRUE(row.windows_vk.has_value()) << row.name;
    EXPECT_TRUE(row.x11_keysym.has_value()) << row.name;
  }
  EXPECT_EQ(absent,
            (std::set<std::string_view>{"F21", "F22", "F23", "F24", "PrintScreen", "ScrollLock", "Pause", "NumLock"}));
  for (const KeyRow& row : PORTABLE_MODIFIERS) EXPECT_TRUE(row.macos_keycode.has_value()) << row.name;
}

TEST(KeyTable, MacosCodesAreDistinct) {
  std::set<uint32_t> codes;
  for (const auto* table : {&PORTABLE_KEYS, &PORTABLE_MODIFIERS}) {
    for (const KeyRow& row : *table) {
      if (row.macos_keycode) {
        EXPECT_TRUE(codes.insert(*row.macos_keycode).second) << row.name;
      }
    }
  }
}

// Every row has a position of its own; a few rows pin the column to the
// Linux input event codes (KEY_A 30, KEY_SYSRQ 99, KEY_F13 183, KEY_RIGHTALT 100).
TEST(KeyTable, EvdevCodesAreDistinctLinuxKeyCodes) {
  std::set<uint32_t> codes;
  for (const auto* table : {&PORTABLE_KEYS, &PORTABLE_MODIFIERS}) {
    for (const KeyRow& row : *table) {
      EXPECT_TRUE(codes.insert(row.evdev_code).second) << row.name;
      EXPECT_GE(row.evdev_code, 1u) << row.name;
      EXPECT_LE(row.evdev_code, 247u) << row.name;  // the keycode (+ 8) fits X's 255
    }
  }
  EXPECT_EQ(key_by_usage(0x04)->evdev_code, 30u);
  EXPECT_EQ(key_by_usage(0x46)->evdev_code, 99u);
  EXPECT_EQ(key_by_usage(0x68)->evdev_code, 183u);
  EXPECT_EQ(modifier_by_usage(0xE6)->evdev_code, 100u);
}

TEST(UsageLookup, FindsEveryRowByItsUsage) {
  for (const KeyRow& row : PORTABLE_KEYS) {
    EXPECT_EQ(key_by_usage(row.usage), &row);
    EXPECT_EQ(any_by_usage(row.usage), &row);
    EXPECT_EQ(modifier_by_usage(row.usage), nullptr);
  }
  for (const KeyRow& row : PORTABLE_MODIFIERS) {
    EXPECT_EQ(modifier_by_usage(row.usage), &row);
    EXPECT_EQ(any_by_usage(row.usage), &row);
    EXPECT_EQ(key_by_usage(row.usage), nullptr);
  }
}

TEST(UsageLookup, KnowsExactlyTheTableUsages) {
  size_t known = 0;
  for (uint32_t usage = 0; usage < 0x200; ++usage) known += is_known_usage(usage);
  EXPECT_EQ(known, 115u);
  EXPECT_TRUE(is_known_usage(0x46));  // PrintScreen, known although macOS has no code for it
  EXPECT_FALSE(is_known_usage(0x32));
  EXPECT_FALSE(is_known_usage(0x64));
  EXPECT_FALSE(is_known_usage(0xE8));
  EXPECT_FALSE(is_known_usage(0xFFFFFFFF));
}

TEST(UsageChecks, KeyCheckAcceptsModifiersAndNamesUnknownUsagesInHex) {
  EXPECT_TRUE(check_key_usage(0x04).ok());
  EXPECT_TRUE(check_key_usage(0xE0).ok());
  EXPECT_TRUE(check_key_usage(0x46).ok());
  for (uint32_t usage : {0x32u, 0x64u}) EXPECT_FALSE(check_key_usage(usage).ok()) << usage;

  const Status unknown = check_key_usage(0x1FF);
  ASSERT_FALSE(unknown.ok());
  EXPECT_EQ(unknown.error(), KmxError::invalid_argument("unknown portable key usage 0x1ff"));
  EXPECT_EQ(check_key_usage(0).error().message(), "unknown portable key usage 0x0");
}

TEST(UsageChecks, ModifierCheckAcceptsOnly0xE0To0xE7) {
  for (uint32_t usage = 0xE0; usage <= 0xE7; ++usage) EXPECT_TRUE(check_modifier_usage(usage).ok());
  EXPECT_EQ(check_modifier_usage(0x04).error(), KmxError::invalid_argument("unknown portable modifier usage 0x4"));
  EXPECT_EQ(check_modifier_usage(0xE8).error().message(), "unknown portable modifier usage 0xe8");
  EXPECT_EQ(check_modifier_usage(0xDF).error().message(), "unknown portable modifier usage 0xdf");
}

}  // namespace
}  // namespace kmx::model
