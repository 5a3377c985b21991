// The X11 accelerator grammar and its canonical texts; no display needed.
#include <gtest/gtest.h>

#include "platform/x11/x11_accelerator.h"

namespace kmx::platform::x11 {
namespace {

Accelerator parsed(const std::string& text) {
  auto r = parse_accelerator(text);
  EXPECT_TRUE(r.ok()) << text << ": " << (r.ok() ? "" : r.error().display());
  return r.ok() ? r.value() : Accelerator{};
}

std::string parse_failure(const std::string& text) {
  auto r = parse_accelerator(text);
  EXPECT_FALSE(r.ok()) << text;
  if (r.ok()) return {};
  EXPECT_EQ(r.error().kind(), KmxError::Kind::InvalidArgument);
  return r.error().message();
}

TEST(X11AcceleratorWords, ModifierWordsGiveTheirGrabModifiers) {
  EXPECT_EQ(parsed("Ctrl+Shift+K"), (Accelerator{MOD_CONTROL | MOD_SHIFT, 0x0E, 0x6B}));
  EXPECT_EQ(parsed("Alt+F4").modifiers, MOD_ALT);
  EXPECT_EQ(parsed("option+F4").modifiers, MOD_ALT);
  for (const char* super : {"Super+A", "Cmd+A", "Command+A", "Meta+A"}) EXPECT_EQ(parsed(super).modifiers, MOD_SUPER);
  for (const char* ctrl : {"CmdOrCtrl+K", "CmdOrControl+K", "CommandOrCtrl+K", "CommandOrControl+K", "control+K"})
    EXPECT_EQ(parsed(ctrl), parsed("Ctrl+K")) << ctrl;
}

TEST(X11AcceleratorKeys, PortableNamesMatchWithoutRegardToCase) {
  EXPECT_EQ(parsed("Ctrl+keyk").usage, 0x0Eu);
  EXPECT_EQ(parsed("ARROWUP").keysym, 0xFF52u);
  EXPECT_EQ(parsed("numpadenter").keysym, 0xFF8Du);
  EXPECT_EQ(parsed("Shift+f24").keysym, 0xFFD5u);
  EXPECT_EQ(parsed("ScrollLock").usage, 0x47u);
}

TEST(X11AcceleratorErrors, EachMalformedShapeIsNamed) {
  EXPECT_EQ(parse_failure("Ctrl++A"), "Ctrl++A: empty token between \"+\" separators");
  EXPECT_EQ(parse_failure("Ctrl+A+Shift"),
            "Ctrl+A+Shift: invalid format: \"Shift\" follows the key; the key comes last");
  EXPECT_EQ(parse_failure("Ctrl+Shift"), "Ctrl+Shift: invalid format: no key, only modifiers");
  EXPECT_EQ(parse_failure("Ctrl+Nope"), "Ctrl+Nope: unrecognised key \"Nope\"");
  EXPECT_EQ(parse_failure(" A"), " A: unrecognised key \" A\"");
  EXPECT_EQ(parse_failure(""), ": unrecognised key \"\"");
}

TEST(X11AcceleratorNormalize, AcceleratorsNamingOneGrabShareTheirText) {
  EXPECT_EQ(normalize_accelerator("Ctrl + Shift + k"), "Control+Shift+KeyK");
  EXPECT_EQ(normalize_accelerator("shift+CmdOrCtrl+KeyK"), "Control+Shift+KeyK");
  EXPECT_EQ(normalize_accelerator("Super+Alt+Return"), "Alt+Super+Enter");
  EXPECT_EQ(normalize_accelerator("Meta+Option+enter"), "Alt+Super+Enter");
  EXPECT_EQ(normalize_accelerator("Ctrl+1"), normalize_accelerator("Ctrl+Digit1"));
}

TEST(X11AcceleratorNormalize, DifferentKeysStayApart) {
  EXPECT_NE(normalize_accelerator("Ctrl+Enter"), normalize_accelerator("Ctrl+NumpadEnter"));
  EXPECT_NE(normalize_accelerator("Ctrl+1"), normalize_accelerator("Ctrl+Numpad1"));
  EXPECT_NE(normalize_accelerator("Ctrl+K"), normalize_accelerator("Ctrl+Shift+K"));
}

TEST(X11AcceleratorNormalize, InvalidTextNeverEqualsAValidOne) {
  EXPECT_EQ(normalize_accelerator("Ctrl+Nope"), "invalid:ctrl+nope");
  EXPECT_EQ(normalize_accelerator("CTRL+NOPE"), normalize_accelerator("ctrl+nope"));
  EXPECT_NE(normalize_accelerator("Ctrl+Shift"), normalize_accelerator("Control+Shift"));
}

TEST(X11AcceleratorKeys, EveryPortableKeyNameParsesToItsOwnRow) {
  for (const char* name : {"KeyA",
                           "Digit0",
                           "Enter",
                           "Escape",
                           "Backspace",
                           "Tab",
                           "Space",
                           "Minus",
                           "Equal",
                           "BracketLeft",
                           "BracketRight",
                           "Backslash",
                           "Semicolon",
                           "Quote",
                           "Backquote",
                           "Comma",
                           "Period",
                           "Slash",
                           "CapsLock",
                           "F1",
                           "F12",
                           "F13",
                           "F20",
                           "F21",
                           "PrintScreen",
                           "Pause",
                           "Insert",
                           "Home",
                           "PageUp",
                           "Delete",
                           "End",
                           "PageDown",
                           "NumLock",
                           "NumpadDivide",
                           "NumpadMultiply",
                           "NumpadSubtract",
                           "NumpadAdd",
                           "Numpad0",
                           "NumpadDecimal"}) {
    const Accelerator a = parsed(name);
    EXPECT_EQ(canonical_text(a), name);
    EXPECT_NE(a.keysym, 0u) << name;
  }
}

}  // namespace
}  // namespace kmx::platform::x11
