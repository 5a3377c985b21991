// The accelerator grammar shared by the Windows and X11 backends.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <utility>

#include "hotkeys/accelerator_grammar.h"
#include "model/keys.h"

namespace kmx::hotkeys {
namespace {

uint32_t usage_of(std::string_view portable_name) {
  for (const model::KeyRow& row : model::PORTABLE_KEYS) {
    if (row.name == portable_name) return row.usage;
  }
  ADD_FAILURE() << "no portable key " << portable_name;
  return 0;
}

ParsedAccelerator parsed(const std::string& text) {
  auto r = parse_accelerator_text(text);
  EXPECT_TRUE(r.ok()) << text << ": " << (r.ok() ? "" : r.error().message());
  return r.ok() ? r.value() : ParsedAccelerator{};
}

std::string failure(const std::string& text) {
  auto r = parse_accelerator_text(text);
  EXPECT_FALSE(r.ok()) << text;
  if (r.ok()) return {};
  EXPECT_EQ(r.error().kind(), KmxError::Kind::InvalidArgument) << text;
  return r.error().message();
}

std::string with_case(std::string s, int (*convert)(int)) {
  for (char& c : s) c = static_cast<char>(convert(static_cast<unsigned char>(c)));
  return s;
}

TEST(AcceleratorGrammarKeys, EveryPortableNameIsAcceptedWithoutRegardToCase) {
  for (const model::KeyRow& row : model::PORTABLE_KEYS) {
    const std::string name(row.name);
    EXPECT_EQ(parsed(name), (ParsedAccelerator{0, row.usage})) << name;
    EXPECT_EQ(parsed(with_case(name, ::tolower)).usage, row.usage) << name;
    EXPECT_EQ(parsed("Shift+" + with_case(name, ::toupper)), (ParsedAccelerator{ACCEL_SHIFT, row.usage})) << name;
  }
}

TEST(AcceleratorGrammarKeys, SingleLettersAndDigitsNameTheirKeys) {
  for (char c = 'A'; c <= 'Z'; ++c) {
    const uint32_t key = usage_of(std::string("Key") + c);
    EXPECT_EQ(parsed(std::string(1, c)).usage, key) << c;
    EXPECT_EQ(parsed(std::string("Ctrl+") + static_cast<char>(c - 'A' + 'a')).usage, key) << c;
  }
  for (char d = '0'; d <= '9'; ++d)
    EXPECT_EQ(parsed(std::string("Alt+") + d).usage, usage_of(std::string("Digit") + d));
}

TEST(AcceleratorGrammarKeys, PunctuationCharactersNameTheirKeys) {
  const std::pair<const char*, const char*> punctuation[] = {
      {"-", "Minus"},      {"=", "Equal"},     {"[", "BracketLeft"}, {"]", "BracketRight"},
      {"\\", "Backslash"}, {";", "Semicolon"}, {"'", "Quote"},       {"`", "Backquote"},
      {",", "Comma"},      {".", "Period"},    {"/", "Slash"},
  };
  for (const auto& [text, name] : punctuation) {
    EXPECT_EQ(parsed(text).usage, usage_of(name)) << text;
    EXPECT_EQ(parsed(std::string("Ctrl+") + text), (ParsedAccelerator{ACCEL_CONTROL, usage_of(name)})) << text;
  }
}

TEST(AcceleratorGrammarKeys, NumpadShortFormsNameTheNumpadDigits) {
  for (int d = 0; d <= 9; ++d) {
    const uint32_t numpad = usage_of("Numpad" + std::to_string(d));
    EXPECT_EQ(parsed("NUM" + std::to_string(d)).usage, numpad) << d;
    EXPECT_EQ(parsed("Ctrl+num" + std::to_string(d)).usage, numpad) << d;
    EXPECT_NE(numpad, parsed(std::to_string(d)).usage) << "a bare digit is the main-row key";
  }
}

TEST(AcceleratorGrammarKeys, ShortFormsOfBothBackendsAreAccepted) {
  const std::pair<const char*, const char*> short_forms[] = {
      {"UP", "ArrowUp"},
      {"down", "ArrowDown"},
      {"Left", "ArrowLeft"},
      {"RIGHT", "ArrowRight"},
      {"Esc", "Escape"},
      {"RETURN", "Enter"},
      {"del", "Delete"},
      {"INS", "Insert"},
      {"PgUp", "PageUp"},
      {"PGDN", "PageDown"},
      {"CAPS", "CapsLock"},
      {"NumAdd", "NumpadAdd"},
      {"NUMSUBTRACT", "NumpadSubtract"},
      {"NUMMULTIPLY", "NumpadMultiply"},
      {"NUMDIVIDE", "NumpadDivide"},
      {"NUMDECIMAL", "NumpadDecimal"},
      {"NumEnter", "NumpadEnter"},
      {"PRINTSCR", "PrintScreen"},
      {"Back", "Backspace"},
      {"Spacebar", "Space"},
  };
  for (const auto& [text, name] : short_forms)
    EXPECT_EQ(parsed(std::string("Shift+") + text).usage, usage_of(name)) << text;
}

TEST(AcceleratorGrammarModifiers, EachWordGivesItsBit) {
  for (const char* alt : {"Alt", "OPTION"}) EXPECT_EQ(parsed(std::string(alt) + "+K").modifiers, ACCEL_ALT) << alt;
  for (const char* ctrl : {"Ctrl", "control", "CmdOrCtrl", "CmdOrControl", "CommandOrCtrl", "COMMANDORCONTROL"})
    EXPECT_EQ(parsed(std::string(ctrl) + "+K"), (ParsedAccelerator{ACCEL_CONTROL, usage_of("KeyK")})) << ctrl;
  EXPECT_EQ(parsed("shift+K").modifiers, ACCEL_SHIFT);
  for (const char* super : {"Cmd", "Command", "SUPER", "Meta"})
    EXPECT_EQ(parsed(std::string(super) + "+K").modifiers, ACCEL_SUPER) << super;
  EXPECT_EQ(parsed("Ctrl+Shift+Alt+Super+F1").modifiers, ACCEL_ALT | ACCEL_CONTROL | ACCEL_SHIFT | ACCEL_SUPER);
  EXPECT_EQ(parsed("Ctrl+Control+CmdOrCtrl+K"), parsed("Ctrl+K")) << "a repeated modifier counts once";
}

TEST(AcceleratorGrammarModifiers, ModifierWordsAreNotKeys) {
  EXPECT_EQ(failure("Shift"), "unrecognised key \"Shift\"") << "a single piece must be a key";
  EXPECT_EQ(failure("Ctrl+ShiftLeft"), "unrecognised key \"ShiftLeft\"");
  EXPECT_EQ(modifier_word_bit("Hyper"), 0u);
  EXPECT_EQ(key_name_usage("Ctrl"), 0u);
}

TEST(AcceleratorGrammarTrimming, PiecesAreTrimmedOfUnicodeWhiteSpace) {
  EXPECT_EQ(parsed("  ctrl \t+ a "), parsed("Ctrl+A"));
  EXPECT_EQ(parsed("Ctrl+\xC2\xA0K\xE3\x80\x80"), parsed("Ctrl+K")) << "no-break and ideographic spaces";
}

TEST(AcceleratorGrammarTrimming, SinglePieceIsTakenAsIs) {
  EXPECT_EQ(parsed("A"), (ParsedAccelerator{0, usage_of("KeyA")}));
  EXPECT_EQ(failure(" A "), "unrecognised key \" A \"");
  EXPECT_EQ(failure("A\t"), "unrecognised key \"A\t\"");
  EXPECT_EQ(failure(""), "unrecognised key \"\"");
}

TEST(AcceleratorGrammarErrors, PieceAfterTheKeyIsAFormatError) {
  EXPECT_EQ(failure("Ctrl+A+Shift"), "invalid format: \"Shift\" follows the key; the key comes last");
  EXPECT_EQ(failure("A+B"), "invalid format: \"B\" follows the key; the key comes last");
  EXPECT_EQ(failure("Ctrl+A+Nope"), "invalid format: \"Nope\" follows the key; the key comes last");
}

TEST(AcceleratorGrammarErrors, ModifiersWithoutKeyAreAFormatError) {
  EXPECT_EQ(failure("Ctrl+Shift"), "invalid format: no key, only modifiers");
  EXPECT_EQ(failure("Alt + Meta"), "invalid format: no key, only modifiers");
}

TEST(AcceleratorGrammarErrors, EmptyPieceIsAnEmptyTokenError) {
  for (const char* text : {"Ctrl++A", "+A", "Ctrl+", "Ctrl+ +A", "+", "Ctrl+A+"})
    EXPECT_EQ(failure(text), "empty token between \"+\" separators") << text;
}

TEST(AcceleratorGrammarErrors, UnknownPieceIsNamed) {
  EXPECT_EQ(failure("Ctrl+Hyper"), "unrecognised key \"Hyper\"");
  EXPECT_EQ(failure("Ctrl+ F25 "), "unrecognised key \"F25\"") << "the trimmed piece is named";
  EXPECT_EQ(failure("Ctrl+NUM10"), "unrecognised key \"NUM10\"");
}

}  // namespace
}  // namespace kmx::hotkeys
