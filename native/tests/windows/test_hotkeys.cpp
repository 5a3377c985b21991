// Registered hot keys end to end through the DLL: presses and releases,
// the Windows apply and its refusals.
#include "wine_support.h"

namespace kmx::wintest {
namespace {

constexpr uint32_t LEFT_CONTROL = 0xE0, LEFT_SHIFT = 0xE1;
constexpr uint32_t KEY_K = 0x0E;

bool is_hotkey(const KmxEvent& e) { return e.kind == KMX_EVENT_HOTKEY; }

// A window of the test's own that takes combinations before the library can.
class OtherWindow {
 public:
  OtherWindow() {
    window_ = ::CreateWindowExW(0, L"STATIC", L"other", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  }
  ~OtherWindow() {
    for (int id : ids_) ::UnregisterHotKey(window_, id);
    ::DestroyWindow(window_);
  }
  // Whether the combination could be registered here (so nobody else holds it).
  bool take(UINT mods, UINT vk) {
    const int id = next_id_++;
    if (!::RegisterHotKey(window_, id, mods | MOD_NOREPEAT, vk)) return false;
    ids_.push_back(id);
    return true;
  }
  void give_back() {
    for (int id : ids_) ::UnregisterHotKey(window_, id);
    ids_.clear();
  }

 private:
  HWND window_;
  std::vector<int> ids_;
  int next_id_ = 1;
};

class Hotkeys : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(rt.status(), KMX_OK) << last_init_error(); }

  std::optional<KmxEvent> next_hotkey() { return rt.wait_for(is_hotkey); }

  Runtime rt{0};
};

TEST_F(Hotkeys, PressAndReleaseOfAChordGiveDownThenUp) {
  ASSERT_EQ(rt.apply({{1, "Ctrl+Shift+K", "talk"}}), KMX_OK) << last_error(rt.get());
  const uint32_t mods[] = {LEFT_CONTROL, LEFT_SHIFT};
  ASSERT_EQ(kmx_send_chord(rt.get(), mods, 2, KEY_K), KMX_OK) << last_error(rt.get());

  auto down = next_hotkey();
  ASSERT_TRUE(down);
  EXPECT_EQ(down->shortcut_id, 1u);
  EXPECT_EQ(down->down, 1);
  EXPECT_EQ(down->flags, 0u);
  auto up = next_hotkey();
  ASSERT_TRUE(up);
  EXPECT_EQ(up->shortcut_id, 1u);
  EXPECT_EQ(up->down, 0);
  EXPECT_GE(up->timestamp_us, down->timestamp_us);
  EXPECT_TRUE(rt.drain(300).empty()) << "one press, one release";
}

TEST_F(Hotkeys, OverlappingHoldsEachGetTheirRelease) {
  ASSERT_EQ(rt.apply({{10, "Ctrl+Shift+J", ""}, {20, "Ctrl+Shift+L", ""}}), KMX_OK) << last_error(rt.get());
  send({key_input(VK_CONTROL, true), key_input(VK_SHIFT, true), key_input('J', true)});
  auto a_down = next_hotkey();
  send({key_input('L', true)});
  auto b_down = next_hotkey();
  send({key_input('J', false)});
  auto a_up = next_hotkey();
  send({key_input('L', false)});
  auto b_up = next_hotkey();
  send({key_input(VK_SHIFT, false), key_input(VK_CONTROL, false)});

  ASSERT_TRUE(a_down && b_down && a_up && b_up);
  EXPECT_EQ(a_down->shortcut_id, 10u);
  EXPECT_EQ(a_down->down, 1);
  EXPECT_EQ(b_down->shortcut_id, 20u);
  EXPECT_EQ(b_down->down, 1);
  EXPECT_EQ(a_up->shortcut_id, 10u);
  EXPECT_EQ(a_up->down, 0);
  EXPECT_EQ(b_up->shortcut_id, 20u);
  EXPECT_EQ(b_up->down, 0);
}

TEST_F(Hotkeys, TwoSpellingsOfOneCombinationAreADuplicate) {
  EXPECT_EQ(rt.apply({{1, "Ctrl+A", ""}, {2, "control + a", ""}}), KMX_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(last_error(rt.get()), "invalid argument: duplicate native accelerator control + a");
  OtherWindow other;
  EXPECT_TRUE(other.take(MOD_CONTROL, 'A')) << "nothing was registered";
}

TEST_F(Hotkeys, MovedAcceleratorReportsTheNewId) {
  ASSERT_EQ(rt.apply({{1, "Ctrl+Alt+K", ""}}), KMX_OK);
  ASSERT_EQ(rt.apply({{2, "ctrl + alt + k", ""}}), KMX_OK) << last_error(rt.get());
  OtherWindow other;
  EXPECT_FALSE(other.take(MOD_CONTROL | MOD_ALT, 'K')) << "still registered";
  send({key_input(VK_CONTROL, true), key_input(VK_MENU, true), key_input('K', true), key_input('K', false),
        key_input(VK_MENU, false), key_input(VK_CONTROL, false)});
  auto down = next_hotkey();
  ASSERT_TRUE(down);
  EXPECT_EQ(down->shortcut_id, 2u);
  auto up = next_hotkey();
  ASSERT_TRUE(up);
  EXPECT_EQ(up->shortcut_id, 2u);
}

TEST_F(Hotkeys, CombinationHeldElsewhereIsRefusedAndTheApplyRollsBack) {
  ASSERT_EQ(rt.apply({{5, "Ctrl+Alt+U", ""}}), KMX_OK);
  OtherWindow other;
  ASSERT_TRUE(other.take(MOD_CONTROL | MOD_ALT, 'P'));

  EXPECT_EQ(rt.apply({{1, "Ctrl+Alt+O", ""}, {2, "Ctrl+Alt+I", ""}, {3, "Alt+Ctrl+P", ""}}), KMX_ERR_BACKEND);
  const std::string error = last_error(rt.get());
  EXPECT_EQ(error.rfind("backend error: HotKey already registered: HotKey { mods: Alt | Control, key: KeyP, id: ", 0),
            0u)
      << error;
  EXPECT_EQ(leftovers(rt.get()), "");

  OtherWindow probe;
  EXPECT_TRUE(probe.take(MOD_CONTROL | MOD_ALT, 'O')) << "rolled back";
  EXPECT_TRUE(probe.take(MOD_CONTROL | MOD_ALT, 'I')) << "rolled back";
  EXPECT_TRUE(probe.take(MOD_CONTROL | MOD_ALT, 'U')) << "the obsolete release of this apply stands";
}

TEST_F(Hotkeys, AcceleratorFormsRegisterTheCombinationTheyName) {
  ASSERT_EQ(rt.apply({{1, "CmdOrCtrl+K", ""}, {2, "A", ""}, {3, "Shift+num5", ""}, {4, "Super+Down", ""}}), KMX_OK)
      << last_error(rt.get());
  OtherWindow other;
  EXPECT_FALSE(other.take(MOD_CONTROL, 'K'));
  EXPECT_FALSE(other.take(0, 'A'));
  EXPECT_FALSE(other.take(MOD_SHIFT, VK_NUMPAD5));
  EXPECT_FALSE(other.take(MOD_WIN, VK_DOWN));
  EXPECT_TRUE(other.take(MOD_SHIFT, 'A')) << "A alone carries no modifier";

  ASSERT_EQ(rt.apply({}), KMX_OK);
  EXPECT_TRUE(other.take(MOD_CONTROL, 'K')) << "an empty list releases everything";
}

TEST_F(Hotkeys, GrammarErrorsNameTheAccelerator) {
  const std::pair<const char*, const char*> cases[] = {
      {"Ctrl+A+Shift", "format"},
      {"Ctrl++A", "empty token"},
      {" A ", "unrecognised key \" A \""},
      {"Ctrl+Shift", "format"},
      {"Ctrl+Hyper", "unrecognised key \"Hyper\""},
      {"Meta+A", "unrecognised key \"Meta\""},  // no modifier word on Windows
  };
  for (const auto& [text, complaint] : cases) {
    EXPECT_EQ(rt.apply({{1, "F9", ""}, {2, text, ""}}), KMX_ERR_INVALID_ARGUMENT) << text;
    const std::string error = last_error(rt.get());
    EXPECT_EQ(error.rfind(std::string("invalid argument: ") + text + ": ", 0), 0u) << error;
    EXPECT_NE(error.find(complaint), std::string::npos) << error;
  }
  OtherWindow other;
  EXPECT_TRUE(other.take(0, VK_F9)) << "a parse failure registers nothing";
}

TEST_F(Hotkeys, ReleasedRegistrationProducesNoEvent) {
  ASSERT_EQ(rt.apply({{7, "Ctrl+Alt+Y", ""}}), KMX_OK);
  ASSERT_EQ(rt.apply({}), KMX_OK);
  send({key_input(VK_CONTROL, true), key_input(VK_MENU, true), key_input('Y', true), key_input('Y', false),
        key_input(VK_MENU, false), key_input(VK_CONTROL, false)});
  EXPECT_TRUE(rt.drain(400).empty());
}

TEST_F(Hotkeys, TwoKeyNamesForOneVirtualKeyAreRefusedNamingBoth) {
  EXPECT_EQ(rt.apply({{1, "Ctrl+NumpadEnter", ""}, {2, "F10", ""}, {3, "Ctrl+Enter", ""}}), KMX_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(last_error(rt.get()),
            "invalid argument: accelerators Ctrl+Enter, Ctrl+NumpadEnter name the same Windows hot key");
  OtherWindow other;
  EXPECT_TRUE(other.take(MOD_CONTROL, VK_RETURN)) << "nothing was registered";
  EXPECT_TRUE(other.take(0, VK_F10));
  other.give_back();
  EXPECT_EQ(rt.apply({{1, "Ctrl+NumpadEnter", ""}, {3, "Shift+Enter", ""}}), KMX_OK) << "other modifiers are fine";
}

TEST_F(Hotkeys, HoldingAHotKeyGivesOnePressAndOneRelease) {
  ASSERT_EQ(rt.apply({{1, "Ctrl+Shift+F6", ""}}), KMX_OK);
  send({key_input(VK_CONTROL, true), key_input(VK_SHIFT, true), key_input(VK_F6, true)});
  auto down = next_hotkey();
  ASSERT_TRUE(down);
  EXPECT_EQ(down->down, 1);
  // The keyboard's auto-repeat while the user holds on (Wine, unlike
  // Windows, passes repeats on despite MOD_NOREPEAT).
  for (int i = 0; i < 5; ++i) send({key_input(VK_F6, true)});
  for (const KmxEvent& e : rt.drain(300))
    ADD_FAILURE() << "while held: id " << e.shortcut_id << " down " << int(e.down);
  send({key_input(VK_F6, false), key_input(VK_SHIFT, false), key_input(VK_CONTROL, false)});
  auto up = next_hotkey();
  ASSERT_TRUE(up);
  EXPECT_EQ(up->shortcut_id, 1u);
  EXPECT_EQ(up->down, 0);
  EXPECT_TRUE(rt.drain(300).empty());
}

// A hot key held while its registration goes away is released at that
// moment, and nothing more is heard of it.
class HeldHotkey : public Hotkeys {
 protected:
  void hold() {
    ASSERT_EQ(rt.apply({{4, "Ctrl+Alt+F8", ""}}), KMX_OK);
    send({key_input(VK_CONTROL, true), key_input(VK_MENU, true), key_input(VK_F8, true)});
    auto down = next_hotkey();
    ASSERT_TRUE(down);
    ASSERT_EQ(down->down, 1);
  }
  void let_go() { send({key_input(VK_F8, false), key_input(VK_MENU, false), key_input(VK_CONTROL, false)}); }
  // The release is already queued when the call that removed the registration returns.
  void expect_release_now(uint64_t id) {
    KmxEvent e{};
    ASSERT_EQ(kmx_poll_event(rt.get(), &e, 0), KMX_OK);
    EXPECT_EQ(e.kind, KMX_EVENT_HOTKEY);
    EXPECT_EQ(e.shortcut_id, id);
    EXPECT_EQ(e.down, 0);
  }
};

TEST_F(HeldHotkey, DroppedByAnApply) {
  hold();
  ASSERT_EQ(rt.apply({{9, "Ctrl+Alt+F9", ""}}), KMX_OK);
  expect_release_now(4);
  let_go();
  EXPECT_TRUE(rt.drain(300).empty());
}

TEST_F(HeldHotkey, MovedToAnotherId) {
  hold();
  ASSERT_EQ(rt.apply({{4, "Ctrl+Alt+F8", ""}}), KMX_OK);
  KmxEvent e{};
  EXPECT_EQ(kmx_poll_event(rt.get(), &e, 0), KMX_ERR_TIMEOUT) << "an unchanged registration keeps its hold";
  ASSERT_EQ(rt.apply({{5, "Ctrl+Alt+F8", ""}}), KMX_OK);
  expect_release_now(4);
  let_go();
  EXPECT_TRUE(rt.drain(300).empty()) << "no release under the new id for a press it never had";

  send({key_input(VK_CONTROL, true), key_input(VK_MENU, true), key_input(VK_F8, true)});
  let_go();
  auto down = next_hotkey();
  auto up = next_hotkey();
  ASSERT_TRUE(down && up);
  EXPECT_EQ(down->shortcut_id, 5u);
  EXPECT_EQ(down->down, 1);
  EXPECT_EQ(up->shortcut_id, 5u);
  EXPECT_EQ(up->down, 0);
}

TEST_F(HeldHotkey, ClearedThenRegisteredAgain) {
  hold();
  ASSERT_EQ(rt.apply({}), KMX_OK);
  expect_release_now(4);
  ASSERT_EQ(rt.apply({{4, "Ctrl+Alt+F8", ""}}), KMX_OK);
  let_go();
  EXPECT_TRUE(rt.drain(300).empty()) << "the old hold ended with the clear";
}

TEST_F(HeldHotkey, EndedByStop) {
  hold();
  ASSERT_EQ(kmx_stop(rt.get()), KMX_OK);
  expect_release_now(4);
  KmxEvent e{};
  EXPECT_EQ(kmx_poll_event(rt.get(), &e, 1000), KMX_ERR_CLOSED);
  let_go();
}

}  // namespace
}  // namespace kmx::wintest
