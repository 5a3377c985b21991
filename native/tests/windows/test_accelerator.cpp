// The Windows accelerator grammar and the hot-key records it yields.
#include <gtest/gtest.h>

#include "model/keys.h"
#include "platform/windows/accelerator.h"

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
  EXPECT_EQ(parse_ok("Meta+A"), parse_ok("Super+A")) << "a Meta word is Super, as a Meta bit would be";
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

TEST(AcceleratorGrammar, DebugFormNamesModifiersKeyAndId) {
  const HotKey k = parse_ok("Shift+Ctrl+K");
  EXPECT_EQ(k.debug(), "HotKey { mods: Control | Shift, key: KeyK, id: " + std::to_string(k.id) + " }");
  EXPECT_EQ(parse_ok("F1").debug(), "HotKey { mods: (none), key: F1, id: " + std::to_string(parse_ok("F1").id) + " }");
}

}  // namespace
}  // namespace kmx::platform::windows
