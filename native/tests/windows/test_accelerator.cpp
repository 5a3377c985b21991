// The Windows accelerator grammar and the hot-key records it yields.
#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "model/keys.h"
#include "platform/windows/accelerator.h"
#include "platform/windows/scan_codes.h"

namespace kmx::platform::windows {
namespace {

HotKey parse_ok(std::string_view text) {
  auto r = parse_accelerator(text);
  EXPECT_TRUE(r.ok()) << text << ": " << (r.ok() ? "" : r.error().message());
  return r.ok() ? r.value() : HotKey{};
}

std::string parse_error(std::string_view text) {
  auto r = parse_accelerator(text);
  EXPECT_FALSE(r.ok()) << text;
  if (r.ok()) return {};
  EXPECT_EQ(r.error().kind(), KmxError::Kind::InvalidArgument);
  return r.error().message();
}

TEST(AcceleratorGrammar, EveryPortableKeyNameIsAcceptedInAnyCase) {
  for (const model::KeyRow& row : model::PORTABLE_KEYS) {
    const std::string name(row.name);
    std::string lower = name, upper = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const HotKey exact = parse_ok(name);
    EXPECT_EQ(key_code_name(exact.key), name);
    EXPECT_EQ(key_code_vk(exact.key), row.windows_vk.value());
    EXPECT_EQ(parse_ok(lower), exact) << lower;
    EXPECT_EQ(parse_ok("Ctrl+" + upper).key, exact.key) << upper;
  }
}

TEST(AcceleratorGrammar, ModifierWordsSetTheirBits) {
  EXPECT_EQ(parse_ok("Alt+A").mods, HOTKEY_ALT);
  EXPECT_EQ(parse_ok("option+A").mods, HOTKEY_ALT);
  EXPECT_EQ(parse_ok("CTRL+A").mods, HOTKEY_CONTROL);
  EXPECT_EQ(parse_ok("Control+A").mods, HOTKEY_CONTROL);
  EXPECT_EQ(parse_ok("Shift+A").mods, HOTKEY_SHIFT);
  EXPECT_EQ(parse_ok("Cmd+A").mods, HOTKEY_SUPER);
  EXPECT_EQ(parse_ok("Command+A").mods, HOTKEY_SUPER);
  EXPECT_EQ(parse_ok("Super+A").mods, HOTKEY_SUPER);
  for (const char* word : {"CmdOrCtrl", "CmdOrControl", "CommandOrCtrl", "CommandOrControl"})
    EXPECT_EQ(parse_ok(std::string(word) + "+K"), parse_ok("Ctrl+K")) << word;
  EXPECT_EQ(parse_ok("Ctrl+Shift+Alt+Super+A").mods, HOTKEY_CONTROL | HOTKEY_SHIFT | HOTKEY_ALT | HOTKEY_SUPER);
}

TEST(AcceleratorGrammar, IdCombinesModifiersAndKey) {
  const HotKey k = parse_ok("Ctrl+Shift+K");
  EXPECT_EQ(k.id, ((HOTKEY_CONTROL | HOTKEY_SHIFT) << 16) | k.key);
  EXPECT_EQ(key_code_name(k.key), "KeyK");
  EXPECT_EQ(k.native_modifiers(), 0x4000u | 0x2u | 0x4u);
  EXPECT_EQ(parse_ok("Alt+Super+F1").native_modifiers(), 0x4000u | 0x1u | 0x8u);
  EXPECT_EQ(HotKey::make(HOTKEY_META, k.key), HotKey::make(HOTKEY_SUPER, k.key));
}

TEST(AcceleratorGrammar, SinglePieceIsAKeyWithoutModifiers) {
  const HotKey a = parse_ok("A");
  EXPECT_EQ(a.mods, 0u);
  EXPECT_EQ(a.id, a.key);
  EXPECT_EQ(key_code_vk(a.key), 0x41);
}

TEST(AcceleratorGrammar, ParseErrorsAreTheGrammarsComplaint) {
  EXPECT_EQ(parse_error("Ctrl+A+Shift"), "invalid format: \"Shift\" follows the key; the key comes last");
  EXPECT_EQ(parse_error("Ctrl++A"), "empty token between \"+\" separators");
  EXPECT_EQ(parse_error(" A "), "unrecognised key \" A \"");
}

TEST(AcceleratorGrammar, MetaIsNoWindowsModifierWord) {
  EXPECT_EQ(parse_error("Meta+A"), "unrecognised key \"Meta\"");
  EXPECT_EQ(parse_error("Ctrl+ meta +A"), "unrecognised key \"meta\"");
  EXPECT_EQ(parse_error("Meta"), "unrecognised key \"Meta\"");
  // Where the grammar fails earlier, its own complaint stands.
  EXPECT_EQ(parse_error("Ctrl++Meta+A"), "empty token between \"+\" separators");
  EXPECT_EQ(parse_error("Hyper+Meta+A"), "unrecognised key \"Hyper\"");
  EXPECT_EQ(parse_error("A+Meta"), "invalid format: \"Meta\" follows the key; the key comes last");
  EXPECT_EQ(parse_ok("Super+A").mods, HOTKEY_SUPER);
}

// Every row of both tables has a position; no two rows share one, and
// the E0-prefixed keys are exactly the ones a standard keyboard prefixes.
TEST(ScanCodes, EveryRowHasItsOwnStandardPosition) {
  std::set<std::pair<uint8_t, bool>> seen;
  std::set<std::string_view> extended;
  for (auto table : {model::PORTABLE_KEYS, model::PORTABLE_MODIFIERS}) {
    for (const model::KeyRow& row : table) {
      const auto scan = standard_scan_code(row.usage);
      ASSERT_TRUE(scan) << row.name;
      EXPECT_NE(scan->code, 0) << row.name;
      EXPECT_TRUE(seen.insert({scan->code, scan->extended}).second) << row.name << " repeats a position";
      if (scan->extended) extended.insert(row.name);
    }
  }
  EXPECT_EQ(seen.size(), 115u);
  const std::set<std::string_view> expected{"PrintScreen",  "Insert",   "Home",         "PageUp",      "Delete",
                                            "End",          "PageDown", "ArrowRight",   "ArrowLeft",   "ArrowDown",
                                            "ArrowUp",      "NumLock",  "NumpadDivide", "NumpadEnter", "LeftMeta",
                                            "RightControl", "RightAlt", "RightMeta"};
  EXPECT_EQ(extended, expected);
  EXPECT_FALSE(standard_scan_code(0x32)) << "not a row";
  EXPECT_EQ(standard_scan_code(0x48)->code, 0x45) << "Pause is reported as 0x45, not by its E1 prefix";
}

TEST(AcceleratorGrammar, DebugFormNamesModifiersKeyAndId) {
  const HotKey k = parse_ok("Shift+Ctrl+K");
  EXPECT_EQ(k.debug(), "HotKey { mods: Control | Shift, key: KeyK, id: " + std::to_string(k.id) + " }");
  EXPECT_EQ(parse_ok("F1").debug(), "HotKey { mods: (none), key: F1, id: " + std::to_string(parse_ok("F1").id) + " }");
}

}  // namespace
}  // namespace kmx::platform::windows
