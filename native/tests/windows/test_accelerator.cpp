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

TEST(AcceleratorGrammar, TokensAreTrimmedSoSpacingDoesNotMatter) {
  EXPECT_EQ(parse_ok("Ctrl+A").id, parse_ok("control + a").id);
  EXPECT_EQ(parse_ok("  shift\t+ F5 ").id, parse_ok("Shift+F5").id);
}

TEST(AcceleratorGrammar, ShortFormsAndCharactersNameKeys) {
  const std::pair<const char*, const char*> aliases[] = {
      {"A", "KeyA"},       {"z", "KeyZ"},       {"1", "Digit1"},      {"0", "Digit0"},
      {",", "Comma"},      {".", "Period"},     {"/", "Slash"},       {";", "Semicolon"},
      {"'", "Quote"},      {"[", "BracketLeft"}, {"]", "BracketRight"}, {"\\", "Backslash"},
      {"`", "Backquote"},  {"-", "Minus"},      {"=", "Equal"},       {"UP", "ArrowUp"},
      {"down", "ArrowDown"}, {"Left", "ArrowLeft"}, {"RIGHT", "ArrowRight"}, {"ESC", "Escape"},
      {"NUM0", "Numpad0"}, {"num9", "Numpad9"}, {"Return", "Enter"},
  };
  for (const auto& [alias, name] : aliases) EXPECT_EQ(key_code_name(parse_ok(alias).key), name) << alias;
  for (int d = 0; d <= 9; ++d)
    EXPECT_EQ(key_code_name(parse_ok("Ctrl+NUM" + std::to_string(d)).key), "Numpad" + std::to_string(d));
}

TEST(AcceleratorGrammar, SinglePieceIsAKeyWithoutModifiers) {
  const HotKey a = parse_ok("A");
  EXPECT_EQ(a.mods, 0u);
  EXPECT_EQ(a.id, a.key);
  EXPECT_EQ(key_code_vk(a.key), 0x41);
}

TEST(AcceleratorGrammar, SinglePieceIsNotTrimmed) {
  EXPECT_NE(parse_error(" A ").find("\" A \""), std::string::npos);
  EXPECT_NE(parse_error("F25").find("F25"), std::string::npos);
}

TEST(AcceleratorGrammar, MalformedTextsGiveTheirOwnErrors) {
  const std::string format = parse_error("Ctrl+A+Shift");
  EXPECT_NE(format.find("format"), std::string::npos) << format;
  EXPECT_NE(parse_error("Ctrl+Shift").find("format"), std::string::npos);
  EXPECT_NE(parse_error("Ctrl+A+B").find("format"), std::string::npos);

  const std::string empty = parse_error("Ctrl++A");
  EXPECT_NE(empty.find("empty token"), std::string::npos) << empty;
  EXPECT_NE(parse_error("+A").find("empty token"), std::string::npos);
  EXPECT_NE(parse_error("Ctrl+ +A").find("empty token"), std::string::npos);

  const std::string unknown = parse_error("Ctrl+Hyper");
  EXPECT_NE(unknown.find("unrecognised key \"Hyper\""), std::string::npos) << unknown;
  EXPECT_NE(parse_error("Meta+A").find("\"Meta\""), std::string::npos) << "Meta is not a modifier word here";
}

TEST(AcceleratorGrammar, DebugFormNamesModifiersKeyAndId) {
  const HotKey k = parse_ok("Shift+Ctrl+K");
  EXPECT_EQ(k.debug(), "HotKey { mods: Control | Shift, key: KeyK, id: " + std::to_string(k.id) + " }");
  EXPECT_EQ(parse_ok("F1").debug(), "HotKey { mods: (none), key: F1, id: " + std::to_string(parse_ok("F1").id) + " }");
}

}  // namespace
}  // namespace kmx::platform::windows
