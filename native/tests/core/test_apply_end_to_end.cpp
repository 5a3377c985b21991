// kmx_apply_hotkeys through the runtime, the real hot-key set and the
// scripted registrar, down to hot-key events at the poller.
#include "runtime_fixture.h"

namespace kmx::testing {
namespace {

using ApplyEndToEnd = RuntimeTest;

TEST_F(ApplyEndToEnd, AppliedSetProducesHotkeyEventsWithTheIds) {
  create();
  const KmxShortcut list[] = {{7, "Ctrl+Shift+K", "talk"}, {8, "Alt+Space", ""}};
  ASSERT_EQ(kmx_apply_hotkeys(handle_, list, 2), KMX_OK);
  EXPECT_EQ(scripted::registered(), (std::vector<std::string>{"alt+space", "ctrl+shift+k"}));
  ASSERT_TRUE(scripted::trigger_hotkey("ctrl+shift+k", true));
  ASSERT_TRUE(scripted::trigger_hotkey("ctrl+shift+k", false));
  KmxEvent e;
  ASSERT_EQ(kmx_poll_event(handle_, &e, 1000), KMX_OK);
  EXPECT_EQ(e.kind, KMX_EVENT_HOTKEY);
  EXPECT_EQ(e.shortcut_id, 7u);
  EXPECT_EQ(e.down, 1);
  ASSERT_EQ(kmx_poll_event(handle_, &e, 1000), KMX_OK);
  EXPECT_EQ(e.down, 0);
}

TEST_F(ApplyEndToEnd, SpacesAroundPlusPassValidationButNotTheSet) {
  create();
  const KmxShortcut list[] = {{1, "Ctrl+A", ""}, {2, "Ctrl + A", ""}};
  EXPECT_EQ(kmx_apply_hotkeys(handle_, list, 2), KMX_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(last_error(handle_), "invalid argument: duplicate accelerator Ctrl + A");
  EXPECT_TRUE(scripted::registered().empty());
}

TEST_F(ApplyEndToEnd, RefusedRegistrationRollsBackAndIsDoublyPrefixed) {
  create();
  const KmxShortcut first[] = {{1, "Ctrl+A", ""}};
  ASSERT_EQ(kmx_apply_hotkeys(handle_, first, 1), KMX_OK);
  scripted::control().refuse_register = {"Ctrl+C"};
  const KmxShortcut second[] = {{1, "Ctrl+A", ""}, {2, "Ctrl+B", ""}, {3, "Ctrl+C", ""}};
  EXPECT_EQ(kmx_apply_hotkeys(handle_, second, 3), KMX_ERR_BACKEND);
  EXPECT_EQ(last_error(handle_), "backend error: backend error: hotkey already registered");
  EXPECT_EQ(scripted::registered(), (std::vector<std::string>{"ctrl+a"}));
}

TEST_F(ApplyEndToEnd, UnreleasableObsoleteEntryIsALeftoverUntilItGoes) {
  create();
  const KmxShortcut first[] = {{1, "Ctrl+A", ""}, {2, "Ctrl+B", ""}};
  ASSERT_EQ(kmx_apply_hotkeys(handle_, first, 2), KMX_OK);
  scripted::control().refuse_release = {"ctrl+b"};
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(kmx_apply_hotkeys(handle_, first, 1), KMX_OK);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("[keymux] obsolete hotkey ctrl+b could not be unregistered (backend error: busy) and remains "
                     "tracked\n"),
            std::string::npos)
      << err;
  EXPECT_EQ(leftovers(handle_), "ctrl+b");
  scripted::control().refuse_release.clear();
  ASSERT_EQ(kmx_apply_hotkeys(handle_, first, 1), KMX_OK);
  EXPECT_EQ(leftovers(handle_), "");
  EXPECT_EQ(scripted::registered(), (std::vector<std::string>{"ctrl+a"}));
}

TEST_F(ApplyEndToEnd, StopReleasesEveryHotkey) {
  create();
  const KmxShortcut list[] = {{1, "Ctrl+A", ""}, {2, "Ctrl+B", ""}};
  ASSERT_EQ(kmx_apply_hotkeys(handle_, list, 2), KMX_OK);
  ASSERT_EQ(kmx_stop(handle_), KMX_OK);
  EXPECT_TRUE(scripted::registered().empty());
}

}  // namespace
}  // namespace kmx::testing
