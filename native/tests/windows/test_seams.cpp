// Failures Wine cannot produce on demand, through the Win32 seam: partial
// SendInput delivery, refused unregistration, refused hooks and a failing
// CreateEventW. Linked from the object libraries, so the seam is reachable.
#include "wine_support.h"

#include "seam_faults.h"

namespace kmx::wintest {
namespace {

constexpr uint32_t LEFT_CONTROL = 0xE0, KEY_A = 0x04;

void expect_step(const INPUT& in, WORD vk, bool down) {
  EXPECT_EQ(in.type, static_cast<DWORD>(INPUT_KEYBOARD));
  EXPECT_EQ(in.ki.wVk, vk);
  EXPECT_EQ(in.ki.wScan, 0);
  EXPECT_EQ(in.ki.dwFlags, down ? 0u : static_cast<DWORD>(KEYEVENTF_KEYUP));
  EXPECT_EQ(in.ki.time, 0u);
  EXPECT_EQ(static_cast<uint64_t>(in.ki.dwExtraInfo), KMX_INJECTION_MARKER);
}

class SeamTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(rt.status(), KMX_OK) << last_init_error(); }
  Runtime rt{0};
};

using PartialDelivery = SeamTest;

TEST_F(PartialDelivery, TwoOfFourReleasesWhatTheDeliveredPrefixPressed) {
  PartialSendInput fault({2, 2});
  const uint32_t mods[] = {LEFT_CONTROL};
  EXPECT_EQ(kmx_send_chord(rt.get(), mods, 1, KEY_A), KMX_ERR_DELIVERY_UNCERTAIN);
  EXPECT_EQ(last_error(rt.get()),
            "delivery uncertain: SendInput delivered 2 of 4 inputs; best-effort cleanup of 2 key(s) succeeded");

  const auto calls = fault.calls();
  ASSERT_EQ(calls.size(), 2u);
  ASSERT_EQ(calls[0].size(), 4u) << "the whole chord in one call";
  expect_step(calls[0][0], VK_CONTROL, true);
  expect_step(calls[0][1], 'A', true);
  expect_step(calls[0][2], 'A', false);
  expect_step(calls[0][3], VK_CONTROL, false);
  ASSERT_EQ(calls[1].size(), 2u) << "the cleanup in one further call";
  expect_step(calls[1][0], 'A', false);
  expect_step(calls[1][1], VK_CONTROL, false);
}

TEST_F(PartialDelivery, CleanupThatFallsShortIsReportedAsFailed) {
  PartialSendInput fault({3, 0});
  const uint32_t mods[] = {LEFT_CONTROL};
  EXPECT_EQ(kmx_send_chord(rt.get(), mods, 1, KEY_A), KMX_ERR_DELIVERY_UNCERTAIN);
  EXPECT_EQ(last_error(rt.get()),
            "delivery uncertain: SendInput delivered 3 of 4 inputs; best-effort cleanup of 1 key(s) failed");
  const auto calls = fault.calls();
  ASSERT_EQ(calls.size(), 2u);
  ASSERT_EQ(calls[1].size(), 1u);
  expect_step(calls[1][0], VK_CONTROL, false);
}

TEST_F(PartialDelivery, NothingInsertedIsNotDelivered) {
  PartialSendInput fault({0});
  const uint32_t mods[] = {LEFT_CONTROL};
  EXPECT_EQ(kmx_send_chord(rt.get(), mods, 1, KEY_A), KMX_ERR_NOT_DELIVERED);
  EXPECT_EQ(last_error(rt.get()), "injection not delivered: SendInput delivered 0 of 4 inputs");
  EXPECT_EQ(fault.calls().size(), 1u) << "no cleanup after nothing";
}

using ObsoleteRelease = SeamTest;

TEST_F(ObsoleteRelease, OneRefusedReleaseIsRetainedWithItsOwnLine) {
  UnregisterFault fault;
  ASSERT_EQ(rt.apply({{1, "Ctrl+Alt+1", ""}, {2, "Ctrl+Alt+2", ""}}), KMX_OK);
  fault.fail(true);
  StderrCapture capture;
  ASSERT_EQ(rt.apply({{2, "Ctrl+Alt+2", ""}}), KMX_OK) << last_error(rt.get());
  const auto out = lines(capture.text());
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].rfind("[keymux] obsolete hotkey Ctrl+Alt+1 (", 0), 0u) << out[0];
  EXPECT_NE(out[0].find(") could not be unregistered (failed to unregister HotKey { mods: Alt | Control, key: Digit1"),
            std::string::npos)
      << out[0];
  EXPECT_NE(out[0].find("Windows error 5); it remains active and tracked"), std::string::npos) << out[0];
  EXPECT_EQ(leftovers(rt.get()), "Ctrl+Alt+1");

  fault.fail(false);
  ASSERT_EQ(rt.apply({{2, "Ctrl+Alt+2", ""}}), KMX_OK);
  EXPECT_EQ(leftovers(rt.get()), "") << "the next apply releases it";
}

TEST_F(ObsoleteRelease, TwoRefusedReleasesAddTheSummaryLine) {
  UnregisterFault fault;
  ASSERT_EQ(rt.apply({{1, "Ctrl+Alt+2", ""}, {2, "Ctrl+Alt+1", ""}}), KMX_OK);
  fault.fail(true);
  StderrCapture capture;
  ASSERT_EQ(rt.apply({}), KMX_OK);
  const auto out = lines(capture.text());
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].rfind("[keymux] obsolete hotkey Ctrl+Alt+", 0), 0u);
  EXPECT_EQ(out[1].rfind("[keymux] obsolete hotkey Ctrl+Alt+", 0), 0u);
  EXPECT_EQ(out[2],
            "[keymux] hotkeys applied, but these obsolete registrations are still active: "
            "[\"Ctrl+Alt+1\", \"Ctrl+Alt+2\"]");
  EXPECT_EQ(leftovers(rt.get()), "Ctrl+Alt+1\nCtrl+Alt+2");

  // Still tracked: their presses are still reported.
  send({key_input(VK_CONTROL, true), key_input(VK_MENU, true), key_input('1', true), key_input('1', false),
        key_input(VK_MENU, false), key_input(VK_CONTROL, false)});
  auto e = rt.wait_for([](const KmxEvent& e) { return e.kind == KMX_EVENT_HOTKEY; });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->shortcut_id, 2u);
  fault.fail(false);
}

TEST_F(ObsoleteRelease, MovingAnAcceleratorToANewIdMakesNoPlatformCall) {
  UnregisterFault fault;
  ASSERT_EQ(rt.apply({{1, "Ctrl+K", ""}}), KMX_OK);
  ASSERT_EQ(rt.apply({{2, "Control+K", ""}}), KMX_OK) << last_error(rt.get());
  EXPECT_EQ(fault.calls(), 0) << "no unregistration, and a re-registration would have been refused";
  send({key_input(VK_CONTROL, true), key_input('K', true), key_input('K', false), key_input(VK_CONTROL, false)});
  auto e = rt.wait_for([](const KmxEvent& e) { return e.kind == KMX_EVENT_HOTKEY; });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->shortcut_id, 2u);
}

TEST_F(ObsoleteRelease, RollbackThatCannotReleaseKeepsTheRegistrationTracked) {
  UnregisterFault fault;
  HWND other = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_TRUE(::RegisterHotKey(other, 1, MOD_CONTROL | MOD_ALT | MOD_NOREPEAT, 'Z'));
  fault.fail(true);
  EXPECT_EQ(rt.apply({{1, "Ctrl+Alt+X", ""}, {2, "Ctrl+Alt+Z", ""}}), KMX_ERR_BACKEND);
  fault.fail(false);
  ::UnregisterHotKey(other, 1);
  ::DestroyWindow(other);

  // Ctrl+Alt+X stayed registered and tracked under its shortcut id.
  send({key_input(VK_CONTROL, true), key_input(VK_MENU, true), key_input('X', true), key_input('X', false),
        key_input(VK_MENU, false), key_input(VK_CONTROL, false)});
  auto e = rt.wait_for([](const KmxEvent& e) { return e.kind == KMX_EVENT_HOTKEY; });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->shortcut_id, 1u);
}

TEST(StartFailure, FailingCreateEventLeavesNoRuntime) {
  {
    CreateEventFault fault;
    KmxCreateOptions options{KMX_ABI_VERSION, 0};
    KmxHandle h = reinterpret_cast<KmxHandle>(1);
    EXPECT_EQ(kmx_create(&options, &h), KMX_ERR_BACKEND);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(last_init_error(), "backend error: CreateEventW failed");
  }
  Runtime rt(0);
  EXPECT_EQ(rt.status(), KMX_OK);
}

TEST(StartFailure, RefusedKeyboardHookFailsCreationAndLeavesNoWindow) {
  {
    HookFault fault({WH_KEYBOARD_LL});
    KmxCreateOptions options{KMX_ABI_VERSION, KMX_RAW_KEYS | KMX_RAW_BUTTONS};
    KmxHandle h = nullptr;
    EXPECT_EQ(kmx_create(&options, &h), KMX_ERR_BACKEND);
    EXPECT_EQ(last_init_error(), "backend error: SetWindowsHookExW(WH_KEYBOARD_LL) failed");
    EXPECT_EQ(fault.requested(), std::vector<int>{WH_KEYBOARD_LL}) << "the mouse is not tried after";
  }
  // The failed thread ends on its own; its window goes with it.
  for (int i = 0; i < 100 && ::FindWindowExW(HWND_MESSAGE, nullptr, L"keymux_hotkey_window", nullptr); ++i) ::Sleep(20);
  EXPECT_EQ(::FindWindowExW(HWND_MESSAGE, nullptr, L"keymux_hotkey_window", nullptr), nullptr);
  Runtime rt(0);
  EXPECT_EQ(rt.status(), KMX_OK);
}

TEST(HookSync, RefusedMouseHookKeepsTheKeyboardChangeButNotTheMask) {
  Runtime rt(0);
  ASSERT_EQ(rt.status(), KMX_OK);
  HookFault fault({WH_MOUSE_LL});
  EXPECT_EQ(kmx_set_raw_mask(rt.get(), KMX_RAW_KEYS | KMX_RAW_BUTTONS), KMX_ERR_BACKEND);
  EXPECT_EQ(last_error(rt.get()), "backend error: SetWindowsHookExW(WH_MOUSE_LL) failed");
  send({key_input('R', true), key_input('R', false)});
  EXPECT_TRUE(rt.drain(300).empty()) << "the context still says mask 0";

  fault.refuse({});
  ASSERT_EQ(kmx_set_raw_mask(rt.get(), KMX_RAW_KEYS | KMX_RAW_BUTTONS), KMX_OK);
  EXPECT_EQ(fault.requested(), (std::vector<int>{WH_KEYBOARD_LL, WH_MOUSE_LL, WH_MOUSE_LL}))
      << "the keyboard hook of the failed call stayed installed";
  send({key_input('R', true), key_input('R', false)});
  auto e = rt.wait_for([](const KmxEvent& e) { return e.kind == KMX_EVENT_KEY; });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->native_code, static_cast<uint32_t>('R'));
}

}  // namespace
}  // namespace kmx::wintest
