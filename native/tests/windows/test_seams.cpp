// What Wine cannot produce on demand, through the Win32 seam: partial
// SendInput delivery, refused unregistration, refused hooks, a failing
// CreateEventW, an elevated foreground process and a blocked standard
// error. Linked from the object libraries, so the seam is reachable.
#include "wine_support.h"

#include <tlhelp32.h>

#include "seam_faults.h"

namespace kmx::wintest {
namespace {

constexpr uint32_t LEFT_CONTROL = 0xE0, RIGHT_CONTROL = 0xE4, RIGHT_SHIFT = 0xE5, RIGHT_ALT = 0xE6;
constexpr uint32_t KEY_A = 0x04, ENTER = 0x28, ARROW_UP = 0x52, NUMPAD_ENTER = 0x58;

struct Key {
  WORD vk;
  WORD scan;
  bool extended = false;
};
constexpr Key CONTROL{VK_CONTROL, 0x1D}, A{'A', 0x1E};

void expect_step(const INPUT& in, Key key, bool down) {
  EXPECT_EQ(in.type, static_cast<DWORD>(INPUT_KEYBOARD));
  EXPECT_EQ(in.ki.wVk, key.vk);
  EXPECT_EQ(in.ki.wScan, key.scan) << "vk " << key.vk;
  EXPECT_EQ(in.ki.dwFlags, (down ? 0u : static_cast<DWORD>(KEYEVENTF_KEYUP)) |
                               (key.extended ? static_cast<DWORD>(KEYEVENTF_EXTENDEDKEY) : 0u))
      << "vk " << key.vk;
  EXPECT_EQ(in.ki.time, 0u);
  EXPECT_EQ(static_cast<uint64_t>(in.ki.dwExtraInfo), KMX_INJECTION_MARKER);
}

// Standard error as the library left it, once its writer is done.
std::string flushed(StderrCapture& capture) {
  EXPECT_TRUE(platform::windows::flush_diagnostics(5000));
  return capture.text();
}

size_t thread_count() {
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  size_t n = 0;
  for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) ++n;
  }
  ::CloseHandle(snapshot);
  return n;
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
  expect_step(calls[0][0], CONTROL, true);
  expect_step(calls[0][1], A, true);
  expect_step(calls[0][2], A, false);
  expect_step(calls[0][3], CONTROL, false);
  ASSERT_EQ(calls[1].size(), 2u) << "the cleanup in one further call";
  expect_step(calls[1][0], A, false);
  expect_step(calls[1][1], CONTROL, false);
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
  expect_step(calls[1][0], CONTROL, false);
}

TEST_F(PartialDelivery, NothingInsertedIsNotDelivered) {
  PartialSendInput fault({0});
  const uint32_t mods[] = {LEFT_CONTROL};
  EXPECT_EQ(kmx_send_chord(rt.get(), mods, 1, KEY_A), KMX_ERR_NOT_DELIVERED);
  EXPECT_EQ(last_error(rt.get()), "injection not delivered: SendInput delivered 0 of 4 inputs");
  EXPECT_EQ(fault.calls().size(), 1u) << "no cleanup after nothing";
}

// The right-hand keys share their virtual key with the left-hand ones; only
// the scan code and the extended flag tell Windows which side went down.
TEST_F(PartialDelivery, RightHandModifiersAndNumpadEnterCarryTheirOwnPositions) {
  PartialSendInput all({});
  const uint32_t mods[] = {RIGHT_CONTROL, RIGHT_SHIFT, RIGHT_ALT};
  ASSERT_EQ(kmx_send_chord(rt.get(), mods, 3, NUMPAD_ENTER), KMX_OK) << last_error(rt.get());
  const uint32_t left[] = {LEFT_CONTROL};
  ASSERT_EQ(kmx_send_chord(rt.get(), left, 1, ENTER), KMX_OK);
  // Both Controls asked for: one press, at the position of the first.
  const uint32_t both[] = {RIGHT_CONTROL, LEFT_CONTROL};
  ASSERT_EQ(kmx_send_chord(rt.get(), both, 2, ARROW_UP), KMX_OK);

  const auto calls = all.calls();
  ASSERT_EQ(calls.size(), 3u);
  const Key rctrl{VK_CONTROL, 0x1D, true}, rshift{VK_SHIFT, 0x36}, ralt{VK_MENU, 0x38, true};
  const Key numpad_enter{VK_RETURN, 0x1C, true}, enter{VK_RETURN, 0x1C}, up{VK_UP, 0x48, true};
  ASSERT_EQ(calls[0].size(), 8u);
  expect_step(calls[0][0], rctrl, true);
  expect_step(calls[0][1], rshift, true);
  expect_step(calls[0][2], ralt, true);
  expect_step(calls[0][3], numpad_enter, true);
  expect_step(calls[0][4], numpad_enter, false);
  expect_step(calls[0][5], ralt, false);
  expect_step(calls[0][6], rshift, false);
  expect_step(calls[0][7], rctrl, false);
  ASSERT_EQ(calls[1].size(), 4u);
  expect_step(calls[1][0], CONTROL, true);
  expect_step(calls[1][1], enter, true);
  ASSERT_EQ(calls[2].size(), 4u);
  expect_step(calls[2][0], rctrl, true);
  expect_step(calls[2][1], up, true);
  expect_step(calls[2][3], rctrl, false);
}

// A window of this process in the foreground; the scripted levels say
// whose process it belongs to.
class ForegroundWindow {
 public:
  ForegroundWindow() {
    window_ = ::CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"elevated", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr,
                                nullptr, nullptr, nullptr);
    ::SetForegroundWindow(window_);
  }
  ~ForegroundWindow() { ::DestroyWindow(window_); }
  bool in_front() const { return ::GetForegroundWindow() == window_; }

 private:
  HWND window_;
};

using Integrity = SeamTest;

TEST_F(Integrity, ChordIntoAHigherLevelIsNotSentAndNotReportedDelivered) {
  ForegroundWindow window;
  ASSERT_TRUE(window.in_front());
  PartialSendInput sent({});
  const uint32_t mods[] = {LEFT_CONTROL};
  {
    IntegrityLevels levels(SECURITY_MANDATORY_MEDIUM_RID, SECURITY_MANDATORY_HIGH_RID);
    EXPECT_EQ(kmx_send_chord(rt.get(), mods, 1, KEY_A), KMX_ERR_DELIVERY_UNCERTAIN);
    EXPECT_EQ(last_error(rt.get()),
              "delivery uncertain: the foreground window belongs to a process of higher integrity level (0x3000) "
              "than this one (0x2000); Windows drops input sent to it, so nothing was sent");
    EXPECT_TRUE(sent.calls().empty()) << "nothing was sent";
  }
  {
    IntegrityLevels levels(SECURITY_MANDATORY_HIGH_RID, SECURITY_MANDATORY_HIGH_RID);
    EXPECT_EQ(kmx_send_chord(rt.get(), mods, 1, KEY_A), KMX_OK) << "an equal level receives input";
  }
  {
    IntegrityLevels levels(SECURITY_MANDATORY_HIGH_RID, SECURITY_MANDATORY_MEDIUM_RID);
    EXPECT_EQ(kmx_send_chord(rt.get(), mods, 1, KEY_A), KMX_OK) << "a lower level receives input";
  }
  {
    IntegrityLevels levels(SECURITY_MANDATORY_MEDIUM_RID, 0);
    EXPECT_EQ(kmx_send_chord(rt.get(), mods, 1, KEY_A), KMX_OK) << "an unreadable level is not guessed at";
  }
  EXPECT_EQ(sent.calls().size(), 3u);
}

using ObsoleteRelease = SeamTest;

TEST_F(ObsoleteRelease, OneRefusedReleaseIsRetainedWithItsOwnLine) {
  UnregisterFault fault;
  ASSERT_EQ(rt.apply({{1, "Ctrl+Alt+1", ""}, {2, "Ctrl+Alt+2", ""}}), KMX_OK);
  fault.fail(true);
  StderrCapture capture;
  ASSERT_EQ(rt.apply({{2, "Ctrl+Alt+2", ""}}), KMX_OK) << last_error(rt.get());
  const auto out = lines(flushed(capture));
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
  const auto out = lines(flushed(capture));
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

TEST(StartFailure, RefusedKeyboardHookFailsCreationAndLeavesNoThreadOrWindow) {
  const size_t threads_before = thread_count();
  {
    HookFault fault({WH_KEYBOARD_LL});
    KmxCreateOptions options{KMX_ABI_VERSION, KMX_RAW_KEYS | KMX_RAW_BUTTONS};
    KmxHandle h = nullptr;
    EXPECT_EQ(kmx_create(&options, &h), KMX_ERR_BACKEND);
    EXPECT_EQ(last_init_error(), "backend error: SetWindowsHookExW(WH_KEYBOARD_LL) failed");
    EXPECT_EQ(fault.requested(), std::vector<int>{WH_KEYBOARD_LL}) << "the mouse is not tried after";
  }
  // Gone by the time kmx_create returns, so that the host may unload the library.
  EXPECT_EQ(thread_count(), threads_before);
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
  EXPECT_EQ(fault.requested(), (std::vector<int>{WH_KEYBOARD_LL, WH_MOUSE_LL, WH_KEYBOARD_LL, WH_MOUSE_LL}));
  const auto installed = fault.installed();
  ASSERT_EQ(installed.size(), 3u);
  EXPECT_EQ(fault.removed(), std::vector<HHOOK>{installed[0]})
      << "the keyboard hook of the failed call stayed installed until the retry replaced it";
  send({key_input('R', true), key_input('R', false)});
  auto e = rt.wait_for([](const KmxEvent& e) { return e.kind == KMX_EVENT_KEY; });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->native_code, static_cast<uint32_t>('R'));
}

TEST(HookSync, MaskChangesRemoveTheHooksTheyNoLongerNeed) {
  HookFault hooks({});
  Runtime rt(KMX_RAW_KEYS);
  ASSERT_EQ(rt.status(), KMX_OK);
  ASSERT_EQ(kmx_set_raw_mask(rt.get(), KMX_RAW_BUTTONS | KMX_RAW_DRAG_MOTION), KMX_OK);
  auto installed = hooks.installed();
  ASSERT_EQ(installed.size(), 2u);
  EXPECT_EQ(hooks.removed(), std::vector<HHOOK>{installed[0]}) << "the keyboard hook went with RAW_KEYS";
  ASSERT_EQ(kmx_set_raw_mask(rt.get(), KMX_RAW_DRAG_MOTION), KMX_OK);
  ASSERT_EQ(kmx_set_raw_mask(rt.get(), 0), KMX_OK);
  installed = hooks.installed();
  ASSERT_EQ(installed.size(), 3u);
  EXPECT_EQ(hooks.removed(), (std::vector<HHOOK>{installed[0], installed[1], installed[2]}));
  EXPECT_EQ(hooks.requested(), (std::vector<int>{WH_KEYBOARD_LL, WH_MOUSE_LL, WH_MOUSE_LL}));
}

// Windows may have removed a hook whose thread was slow; setting the same
// mask again must bring it back, and only once.
TEST(HookSync, SettingTheSameMaskAgainInstallsTheHooksAfresh) {
  HookFault hooks({});
  Runtime rt(KMX_RAW_KEYS);
  ASSERT_EQ(rt.status(), KMX_OK);
  ASSERT_EQ(kmx_set_raw_mask(rt.get(), KMX_RAW_KEYS), KMX_OK);
  const auto installed = hooks.installed();
  ASSERT_EQ(installed.size(), 2u);
  EXPECT_EQ(hooks.removed(), std::vector<HHOOK>{installed[0]});
  send({key_input('G', true), key_input('G', false)});
  const auto events = rt.drain(400);
  ASSERT_EQ(events.size(), 2u) << "one hook reports the key, once";
  EXPECT_EQ(events[0].down, 1);
  EXPECT_EQ(events[1].down, 0);
}

// While nothing can be written, the backend thread still runs its hooks,
// applies and mask changes, and kmx_stop still returns.
TEST(BlockedStandardError, BackendThreadCarriesOnAndTheLinesComeOutLater) {
  BlockedStderr stderr_blocked;
  UnregisterFault refuse;
  Runtime rt(KMX_RAW_KEYS);
  ASSERT_EQ(rt.status(), KMX_OK);
  ASSERT_EQ(rt.apply({{1, "Ctrl+Alt+5", ""}, {2, "Ctrl+Alt+6", ""}}), KMX_OK);
  refuse.fail(true);
  ASSERT_EQ(rt.apply({}), KMX_OK) << "two lines and a summary queued";
  refuse.fail(false);
  for (int i = 0; i < 500 && stderr_blocked.blocked() == 0; ++i) ::Sleep(10);
  ASSERT_EQ(stderr_blocked.blocked(), 1) << "the writer is stuck in its first write";

  send({key_input('J', true), key_input('J', false)});
  auto key = rt.wait_for([](const KmxEvent& e) { return e.kind == KMX_EVENT_KEY; });
  ASSERT_TRUE(key) << "the hook answered while standard error was stuck";
  EXPECT_EQ(kmx_set_raw_mask(rt.get(), KMX_RAW_KEYS), KMX_OK);
  EXPECT_EQ(rt.apply({}), KMX_OK);
  EXPECT_EQ(leftovers(rt.get()), "") << "the retried releases went through";
  EXPECT_EQ(kmx_stop(rt.get()), KMX_OK) << "the end does not wait for the stuck writer for long";

  stderr_blocked.unblock();
  ASSERT_TRUE(platform::windows::flush_diagnostics(5000));
  const auto out = lines(stderr_blocked.written());
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].rfind("[keymux] obsolete hotkey Ctrl+Alt+", 0), 0u) << out[0];
  EXPECT_EQ(out[2].rfind("[keymux] hotkeys applied, but these obsolete registrations are still active: ", 0), 0u);
  EXPECT_EQ(platform::windows::dropped_diagnostics(), 0u);
}

}  // namespace
}  // namespace kmx::wintest
