// Hot keys end to end: the shortcut list through the hot-key set and the
// Carbon registrar, presses back as HotkeyTrigger events.
#include <cctype>
#include <optional>

#include "e2e_support.h"

namespace kmx::testing {
namespace {

constexpr uint32_t CMD = 0x0100, SHIFT = 0x0200, OPTION = 0x0800, CONTROL = 0x1000;

using Hotkeys = MacRuntimeTest;

KmxStatus apply(KmxHandle h, std::initializer_list<KmxShortcut> items) {
  return kmx_apply_hotkeys(h, items.begin(), items.size());
}

struct Trigger {
  uint64_t id;
  uint8_t down;
  bool operator==(const Trigger&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Trigger& t) { return os << "{" << t.id << ", " << +t.down << "}"; }

std::vector<Trigger> triggers(const std::vector<KmxEvent>& events) {
  std::vector<Trigger> out;
  for (const KmxEvent& e : events) {
    EXPECT_EQ(e.kind, KMX_EVENT_HOTKEY);
    EXPECT_EQ(e.flags, 0u);
    EXPECT_NE(e.timestamp_us, 0u);
    out.push_back({e.shortcut_id, e.down});
  }
  return out;
}

void press_and_release(uint32_t keycode, uint32_t modifiers) {
  EXPECT_EQ(kmxsim_hotkey_press(keycode, modifiers), KMXSIM_HOTKEY_THIS_PROCESS);
  EXPECT_EQ(kmxsim_hotkey_release(keycode, modifiers), KMXSIM_HOTKEY_THIS_PROCESS);
}

TEST_F(Hotkeys, PressAndReleaseArriveAsTriggersWithTheShortcutId) {
  KmxHandle h = create();
  ASSERT_EQ(apply(h, {{41, "Cmd+Shift+K", "open"}, {42, "option+space", ""}}), KMX_OK) << last_error(h);
  EXPECT_TRUE(kmxsim_hotkey_registered(0x28, CMD | SHIFT));
  press_and_release(0x31, OPTION);
  press_and_release(0x28, CMD | SHIFT);
  EXPECT_EQ(triggers(drain()), (std::vector<Trigger>{{42, 1}, {42, 0}, {41, 1}, {41, 0}}));
  EXPECT_EQ(leftovers(h), "");
}

// The set wraps each registration error whole, so the host sees two prefixes.
TEST_F(Hotkeys, ParseErrorsReachTheHostWithBothPrefixes) {
  KmxHandle h = create();
  EXPECT_EQ(apply(h, {{1, "Ctrl+F21", ""}}), KMX_ERR_BACKEND);
  EXPECT_EQ(last_error(h), "backend error: invalid argument: unsupported macOS key: F21");
  EXPECT_EQ(apply(h, {{1, "Ctrl+Shift", ""}}), KMX_ERR_BACKEND);
  EXPECT_EQ(last_error(h), "backend error: invalid argument: missing key in Ctrl+Shift");
  EXPECT_EQ(counts().hotkeys, before_.hotkeys);
}

TEST_F(Hotkeys, SameComboUnderTwoSpellingsFailsAndRollsBack) {
  KmxHandle h = create();
  ASSERT_EQ(apply(h, {{5, "Cmd+Alt+L", ""}}), KMX_OK);
  EXPECT_EQ(apply(h, {{5, "Cmd+Alt+L", ""}, {1, "SHIFT+ctrl+a", ""}, {2, "Ctrl+Shift+A", ""}}), KMX_ERR_BACKEND);
  EXPECT_EQ(last_error(h), "backend error: backend error: hotkey already registered");
  EXPECT_FALSE(kmxsim_hotkey_registered(0x00, SHIFT | CONTROL));
  // What was in force before still is.
  press_and_release(0x25, CMD | OPTION);
  EXPECT_EQ(triggers(drain()), (std::vector<Trigger>{{5, 1}, {5, 0}}));
}

TEST_F(Hotkeys, ComboHeldExclusivelyByAnotherApplicationIsRefused) {
  KmxHandle h = create();
  ASSERT_EQ(kmxsim_other_app_register_hotkey(1, 0x0E, CMD | OPTION, kEventHotKeyExclusive), 0);
  EXPECT_EQ(apply(h, {{1, "Cmd+Option+E", ""}}), KMX_ERR_BACKEND);
  EXPECT_EQ(last_error(h), "backend error: backend error: hotkey already registered");
  kmxsim_fail_nth_call(KMXSIM_FN_RegisterEventHotKey, 1, -9870);
  EXPECT_EQ(apply(h, {{1, "Cmd+Option+R", ""}}), KMX_ERR_BACKEND);
  EXPECT_EQ(last_error(h), "backend error: backend error: RegisterEventHotKey failed: OSStatus -9870");
}

// A non-exclusive holder cannot be detected; the exclusive registration
// then takes the combination's presses for itself.
TEST_F(Hotkeys, ComboHeldNonExclusivelyByAnotherApplicationIsTakenOver) {
  KmxHandle h = create();
  ASSERT_EQ(kmxsim_other_app_register_hotkey(1, 0x0F, CMD | OPTION, 0), 0);
  ASSERT_EQ(apply(h, {{3, "Cmd+Option+R", ""}}), KMX_OK) << last_error(h);
  EXPECT_EQ(kmxsim_hotkey_press(0x0F, CMD | OPTION), KMXSIM_HOTKEY_THIS_PROCESS);
  EXPECT_EQ(kmxsim_hotkey_release(0x0F, CMD | OPTION), KMXSIM_HOTKEY_THIS_PROCESS);
  EXPECT_EQ(triggers(drain()), (std::vector<Trigger>{{3, 1}, {3, 0}}));
}

TEST_F(Hotkeys, MovingAnAcceleratorToANewIdRetiresTheOldRegistrationFirst) {
  KmxHandle h = create();
  ASSERT_EQ(apply(h, {{1, "Ctrl+Alt+M", ""}}), KMX_OK);
  ASSERT_EQ(apply(h, {{2, "ctrl + alt + m", ""}}), KMX_OK) << last_error(h);
  press_and_release(0x2E, CONTROL | OPTION);
  EXPECT_EQ(triggers(drain()), (std::vector<Trigger>{{2, 1}, {2, 0}}));
  EXPECT_EQ(counts().hotkeys, before_.hotkeys + 1);
}

TEST_F(Hotkeys, SameListTwiceMakesNoCarbonCall) {
  KmxHandle h = create();
  ASSERT_EQ(apply(h, {{1, "Ctrl+Alt+N", ""}}), KMX_OK);
  const uint32_t calls = kmxsim_call_count(KMXSIM_FN_RegisterEventHotKey);
  ASSERT_EQ(apply(h, {{1, "Ctrl+Alt+N", ""}}), KMX_OK);
  EXPECT_EQ(kmxsim_call_count(KMXSIM_FN_RegisterEventHotKey), calls);
  EXPECT_EQ(kmxsim_call_count(KMXSIM_FN_UnregisterEventHotKey), 0u);
}

// A combination nobody in this process holds yet: the orphan test leaves
// one behind for good, so repeated runs need a fresh one each time.
struct Combo {
  std::string text;
  std::string canonical;
  uint32_t keycode;
  uint32_t modifiers;
};

std::optional<Combo> unused_combo() {
  const std::pair<const char*, uint32_t> keys[] = {{"F13", 0x69}, {"F15", 0x71}, {"F16", 0x6A}, {"F17", 0x40},
                                                   {"F18", 0x4F}, {"F19", 0x50}, {"F20", 0x5A}};
  const std::pair<const char*, uint32_t> mods[] = {{"Ctrl+Alt+", CONTROL | OPTION},
                                                   {"Ctrl+Alt+Shift+", CONTROL | OPTION | SHIFT},
                                                   {"Cmd+Ctrl+Alt+", CMD | CONTROL | OPTION}};
  for (auto [mod, mask] : mods)
    for (auto [key, code] : keys)
      if (!kmxsim_hotkey_registered(code, mask)) {
        std::string text = std::string(mod) + key;
        std::string canonical;
        for (char c : text) canonical += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return Combo{text, canonical, code, mask};
      }
  return std::nullopt;
}

TEST_F(Hotkeys, ObsoleteReleaseFailureEndsOrphanedAndIsReported) {
  KmxHandle h = create();
  const std::optional<Combo> obsolete = unused_combo();
  if (!obsolete) GTEST_SKIP() << "every candidate combination was orphaned by earlier runs";
  ASSERT_EQ(apply(h, {{1, obsolete->text.c_str(), ""}, {2, "Ctrl+Alt+F14", ""}}), KMX_OK) << last_error(h);
  kmxsim_fail_nth_call(KMXSIM_FN_UnregisterEventHotKey, 1, -9876);

  ::testing::internal::CaptureStderr();
  const KmxStatus status = apply(h, {{2, "Ctrl+Alt+F14", ""}});
  const std::string err = ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(status, KMX_OK) << last_error(h);
  leaked_hotkeys_ = 1;  // Carbon kept it; nothing can address it any more

  EXPECT_EQ(leftovers(h), obsolete->canonical);
  EXPECT_EQ(err, "[keymux] obsolete hotkey " + obsolete->canonical +
                     " could not be unregistered (backend error: UnregisterEventHotKey failed: OSStatus -9876) and its "
                     "handle is gone; it may remain active\n"
                     "[keymux] macOS hotkeys applied; these obsolete registrations could not be released and can no "
                     "longer be targeted: " +
                     obsolete->canonical + "\n");
  // Its callback is gone with the handle: a press reaches the host no more.
  press_and_release(obsolete->keycode, obsolete->modifiers);
  EXPECT_TRUE(drain().empty());

  // The next successful apply clears the leftovers.
  ASSERT_EQ(apply(h, {{2, "Ctrl+Alt+F14", ""}}), KMX_OK);
  EXPECT_EQ(leftovers(h), "");
}

TEST_F(Hotkeys, EmptyListReleasesEverything) {
  KmxHandle h = create();
  ASSERT_EQ(apply(h, {{1, "Ctrl+Alt+O", ""}, {2, "Ctrl+Alt+P", ""}}), KMX_OK);
  ASSERT_EQ(kmx_apply_hotkeys(h, nullptr, 0), KMX_OK);
  EXPECT_EQ(counts().hotkeys, before_.hotkeys);
}

}  // namespace
}  // namespace kmx::testing
