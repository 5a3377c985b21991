// Accelerator text for Carbon: canonical form and parsing.
#include <gtest/gtest.h>

#include "platform/macos/carbon_accelerator.h"

namespace kmx::platform::macos {
namespace {

CarbonCombo parsed(const std::string& text) {
  auto r = parse_accelerator(text);
  EXPECT_TRUE(r) << text << ": " << (r ? "" : r.error().display());
  return r ? r.value() : CarbonCombo{0xFFFF, 0xFFFFFFFF};
}

std::string refusal(const std::string& text) {
  auto r = parse_accelerator(text);
  if (r) return "parsed";
  EXPECT_EQ(r.error().kind(), KmxError::Kind::InvalidArgument);
  return r.error().message();
}

TEST(CarbonAccelerator, ModifiersMapToCarbonBits) {
  EXPECT_EQ(parsed("Cmd+Shift+K"), (CarbonCombo{0x28, 0x0300}));
  EXPECT_EQ(parsed("option+space"), (CarbonCombo{0x31, 0x0800}));
  EXPECT_EQ(parsed("ctrl+alt+delete"), (CarbonCombo{0x75, 0x1800}));
  EXPECT_EQ(parsed("Super+Meta+Command+CMD+a"), (CarbonCombo{0x00, 0x0100}));
  EXPECT_EQ(parsed("Control+Option+Shift+Cmd+Z"), (CarbonCombo{0x06, 0x1B00}));
}

TEST(CarbonAccelerator, ModifiersMayFollowTheKey) {
  EXPECT_EQ(parsed("Ctrl+A+Shift"), (CarbonCombo{0x00, 0x1200}));
  EXPECT_EQ(parsed("KeyA"), (CarbonCombo{0x00, 0}));
}

TEST(CarbonAccelerator, KeyPrefixIsExactCaseAndOptional) {
  EXPECT_EQ(parsed("Ctrl+KeyA"), parsed("Ctrl+a"));
  EXPECT_EQ(parsed("Digit5").key_code, 0x17);
  EXPECT_EQ(parsed("5").key_code, 0x17);
  EXPECT_EQ(parsed("KeyDigit5").key_code, 0x17);
  EXPECT_EQ(refusal("Ctrl+keyA"), "unsupported macOS key: keyA");
  EXPECT_EQ(refusal("Ctrl+Key"), "unsupported macOS key: Key");
}

TEST(CarbonAccelerator, PiecesAreTrimmedOfUnicodeWhiteSpace) {
  EXPECT_EQ(parsed(" Ctrl + Shift + K "), (CarbonCombo{0x28, 0x1200}));
  EXPECT_EQ(parsed("Ctrl+\u3000K\u00A0"), (CarbonCombo{0x28, 0x1000}));
}

TEST(CarbonAccelerator, NamedKeysUseMacKeyCodes) {
  EXPECT_EQ(parsed("F1").key_code, 0x7A);
  EXPECT_EQ(parsed("F20").key_code, 0x5A);
  EXPECT_EQ(parsed("Up").key_code, 0x7E);
  EXPECT_EQ(parsed("ArrowUp").key_code, 0x7E);
  EXPECT_EQ(parsed("Esc").key_code, parsed("Escape").key_code);
  EXPECT_EQ(parsed("Return").key_code, 0x24);
  EXPECT_EQ(parsed("Numpad8").key_code, 0x5B);
  EXPECT_EQ(parsed("NumpadDecimal").key_code, 0x41);
  EXPECT_EQ(parsed("Backquote").key_code, 0x32);
}

TEST(CarbonAccelerator, KeysCarbonCannotUseAreRefused) {
  for (const char* name :
       {"F21", "F24", "Insert", "CapsLock", "NumLock", "NumpadEnter", "PrintScreen", "ScrollLock", "Pause", "Fn", "AA"})
    EXPECT_EQ(refusal(std::string("Ctrl+") + name), std::string("unsupported macOS key: ") + name);
}

TEST(CarbonAccelerator, MissingEmptyAndExtraKeysAreRefused) {
  EXPECT_EQ(refusal("Ctrl+Shift"), "missing key in Ctrl+Shift");
  EXPECT_EQ(refusal(""), "unsupported macOS key: ");
  EXPECT_EQ(refusal("Ctrl+"), "unsupported macOS key: ");
  EXPECT_EQ(refusal("Ctrl+A+B"), "multiple keys in Ctrl+A+B");
  EXPECT_EQ(refusal("A+"), "multiple keys in A+");
  EXPECT_EQ(refusal("Ctrl++K"), "unsupported macOS key: ");
}

TEST(CarbonAccelerator, CanonicalTextTrimsAndLowerCasesEachPiece) {
  EXPECT_EQ(normalize_accel(" Ctrl + Shift + K "), "ctrl+shift+k");
  EXPECT_EQ(normalize_accel("Ctrl++K"), "ctrl++k");
  EXPECT_EQ(normalize_accel("SHIFT+ctrl+a"), "shift+ctrl+a");
  EXPECT_NE(normalize_accel("SHIFT+ctrl+a"), normalize_accel("Ctrl+Shift+A"));
  EXPECT_EQ(normalize_accel("Ctrl+\u00C4"), "ctrl+\u00C4");  // only ASCII letters fold
  EXPECT_EQ(normalize_accel("+"), "+");
}

}  // namespace
}  // namespace kmx::platform::macos
