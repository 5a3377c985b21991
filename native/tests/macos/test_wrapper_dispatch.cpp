// The wrapper layer: registration handles, the callback table and the
// dispatch of Carbon hot-key events to edge callbacks.
#include <gtest/gtest.h>
#include <kmxsim/kmxsim.h>

#include <optional>
#include <stdexcept>
#include <string>

#include "event_handler.h"
#include "velkor/hotkey.h"
#include "wrapper_support.h"

namespace kmx::testing {
namespace {

using velkor::HotkeyEdge;
using velkor::HotkeyError;

class HotkeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kmxsim_reset();
    callbacks_before_ = callback_count();
  }
  void TearDown() override {
    ASSERT_TRUE(kmxsim_flush(5000));
    EXPECT_EQ(callback_count(), callbacks_before_);
    kmxsim_reset();
  }
  size_t callbacks_before_ = 0;
};

TEST_F(HotkeyTest, PressAndReleaseReachTheCallbackInOrder) {
  EdgeRecorder rec;
  auto hotkey = velkor::register_with_options(0x28, CMD | SHIFT, 0, rec.callback());
  ASSERT_TRUE(hotkey) << hotkey.error().display();
  EXPECT_TRUE(kmxsim_hotkey_registered(0x28, CMD | SHIFT));

  press_and_release(0x28, CMD | SHIFT);
  EXPECT_EQ(rec.edges(), (std::vector<HotkeyEdge>{HotkeyEdge::Pressed, HotkeyEdge::Released}));
  EXPECT_TRUE(velkor::unregister(std::move(hotkey).value()));
  EXPECT_FALSE(kmxsim_hotkey_registered(0x28, CMD | SHIFT));
}

TEST_F(HotkeyTest, ComboHeldExclusivelyByAnotherApplicationIsRefusedAndLeavesNoCallback) {
  ASSERT_EQ(kmxsim_other_app_register_hotkey(1, 0x31, OPTION, kEventHotKeyExclusive), 0);
  EdgeRecorder rec;
  auto hotkey = velkor::register_with_options(0x31, OPTION, kEventHotKeyExclusive, rec.callback());
  ASSERT_FALSE(hotkey);
  EXPECT_EQ(hotkey.error(), HotkeyError::already_registered());
  EXPECT_EQ(hotkey.error().display(), "hotkey already registered");
  EXPECT_EQ(callback_count(), callbacks_before_);
}

// Carbon shares a combination between applications unless both ask for exclusivity.
TEST_F(HotkeyTest, NonExclusiveRegistrationSharesTheComboWithAnotherApplication) {
  ASSERT_EQ(kmxsim_other_app_register_hotkey(1, 0x31, CMD | OPTION, 0), 0);
  EdgeRecorder rec;
  auto hotkey = velkor::register_with_options(0x31, CMD | OPTION, 0, rec.callback());
  ASSERT_TRUE(hotkey) << hotkey.error().display();
  EXPECT_EQ(kmxsim_hotkey_press(0x31, CMD | OPTION), KMXSIM_HOTKEY_THIS_PROCESS | KMXSIM_HOTKEY_OTHER_APP);
  run_event_loop();
  EXPECT_EQ(rec.edges(), std::vector<HotkeyEdge>{HotkeyEdge::Pressed});
  // Within one application the combination can be registered once only.
  auto again = velkor::register_with_options(0x31, CMD | OPTION, 0, rec.callback());
  ASSERT_FALSE(again);
  EXPECT_EQ(again.error(), HotkeyError::already_registered());
}

TEST_F(HotkeyTest, OtherRefusalsCarryTheirStatus) {
  kmxsim_fail_nth_call(KMXSIM_FN_RegisterEventHotKey, 1, -9870);
  EdgeRecorder rec;
  auto hotkey = velkor::register_with_options(0x31, CONTROL | OPTION, 0, rec.callback());
  ASSERT_FALSE(hotkey);
  EXPECT_EQ(hotkey.error().display(), "RegisterEventHotKey failed: OSStatus -9870");
  EXPECT_FALSE(kmxsim_hotkey_registered(0x31, CONTROL | OPTION));
}

TEST_F(HotkeyTest, DroppingAHandleUnregistersIt) {
  EdgeRecorder rec;
  {
    auto hotkey = velkor::register_with_options(0x2D, CMD | CONTROL, 0, rec.callback());
    ASSERT_TRUE(hotkey);
    EXPECT_TRUE(kmxsim_hotkey_registered(0x2D, CMD | CONTROL));
  }
  EXPECT_FALSE(kmxsim_hotkey_registered(0x2D, CMD | CONTROL));
}

TEST_F(HotkeyTest, AMovedHandleKeepsTheRegistrationAlive) {
  EdgeRecorder rec;
  auto registered = velkor::register_with_options(0x2D, SHIFT | OPTION, 0, rec.callback());
  ASSERT_TRUE(registered);
  std::optional<velkor::Hotkey> kept;
  {
    velkor::Hotkey moved = std::move(registered).value();
    kept.emplace(std::move(moved));
  }
  EXPECT_TRUE(kmxsim_hotkey_registered(0x2D, SHIFT | OPTION));
  press_and_release(0x2D, SHIFT | OPTION);
  EXPECT_EQ(rec.edges().size(), 2u);
  kept.reset();
  EXPECT_FALSE(kmxsim_hotkey_registered(0x2D, SHIFT | OPTION));
}

TEST_F(HotkeyTest, FailedUnregisterStillConsumesTheHandleAndItsCallback) {
  EdgeRecorder rec;
  auto hotkey = velkor::register_with_options(0x2D, CMD | SHIFT | CONTROL | OPTION, 0, rec.callback());
  ASSERT_TRUE(hotkey);
  kmxsim_fail_nth_call(KMXSIM_FN_UnregisterEventHotKey, 1, -9877);
  const velkor::Expected<void> done = velkor::unregister(std::move(hotkey).value());
  ASSERT_FALSE(done);
  EXPECT_EQ(done.error().display(), "UnregisterEventHotKey failed: OSStatus -9877");

  // Carbon still holds the combination, but its event reaches no callback.
  ASSERT_TRUE(kmxsim_hotkey_registered(0x2D, CMD | SHIFT | CONTROL | OPTION));
  press_and_release(0x2D, CMD | SHIFT | CONTROL | OPTION);
  EXPECT_TRUE(rec.edges().empty());
}

TEST_F(HotkeyTest, HandleWithoutRegistrationUnregistersCleanly) {
  constexpr uint32_t id = 0xFFFF0001;
  {
    auto table = velkor::lock_callback_table();
    table.entries[id] = std::make_shared<const velkor::HotkeyCallback>([](HotkeyEdge) {});
  }
  EXPECT_TRUE(velkor::unregister(velkor::Hotkey(nullptr, id)));
  EXPECT_EQ(velkor::lock_callback_table().entries.count(id), 0u);
}

TEST_F(HotkeyTest, FaultInACallbackIsLoggedAndTheNextEventDispatched) {
  EdgeRecorder rec;
  auto record = rec.callback();
  auto hotkey = velkor::register_with_options(0x23, CMD | OPTION, 0, [record](HotkeyEdge edge) {
    if (edge == HotkeyEdge::Pressed) throw std::runtime_error("callback exploded");
    record(edge);
  });
  ASSERT_TRUE(hotkey);

  ::testing::internal::CaptureStderr();
  press_and_release(0x23, CMD | OPTION);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "brindle-utils: panic in keyboard_callback_trampoline caught at C ABI boundary: callback exploded\n");
  EXPECT_EQ(rec.edges(), std::vector<HotkeyEdge>{HotkeyEdge::Released});
}

TEST_F(HotkeyTest, ACallbackMayUnregisterItsOwnHotkey) {
  // Would deadlock if callbacks ran under the table's mutex.
  std::mutex mu;
  std::optional<velkor::Hotkey> self;
  std::optional<bool> unregistered;
  auto hotkey = velkor::register_with_options(0x23, SHIFT | CONTROL, 0, [&](HotkeyEdge) {
    std::lock_guard lock(mu);
    if (self) unregistered = velkor::unregister(std::move(*self)).ok();
    self.reset();
  });
  ASSERT_TRUE(hotkey);
  {
    std::lock_guard lock(mu);
    self.emplace(std::move(hotkey).value());
  }
  press_and_release(0x23, SHIFT | CONTROL);
  std::lock_guard lock(mu);
  EXPECT_EQ(unregistered, std::optional<bool>(true));
  EXPECT_FALSE(kmxsim_hotkey_registered(0x23, SHIFT | CONTROL));
}

TEST(Trampoline, PassesOnlyPressAndReleaseWithUserData) {
  std::vector<velkor::HotKeyEvent> seen;
  velkor::CallbackState state{[&](const velkor::HotKeyEvent& e) { seen.push_back(e); }};
  velkor::keyboard_callback_trampoline(0x6B657962, 7, velkor::HOTKEY_SIGNATURE, 9, &state);
  velkor::keyboard_callback_trampoline(0x6B657962, 5, velkor::HOTKEY_SIGNATURE, 9, nullptr);
  EXPECT_TRUE(seen.empty());

  velkor::keyboard_callback_trampoline(0x6B657962, 5, 0x1234, 9, &state);
  velkor::keyboard_callback_trampoline(0x6B657962, 6, 0x1234, 9, &state);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].edge, HotkeyEdge::Pressed);
  EXPECT_EQ(seen[1].edge, HotkeyEdge::Released);
  EXPECT_EQ(seen[1].signature, 0x1234u);  // passed on, not compared
  EXPECT_EQ(seen[1].id, 9u);
}

TEST(HotkeyErrorText, EachVariantHasItsFixedText) {
  EXPECT_EQ(HotkeyError::register_failed(-50).display(), "RegisterEventHotKey failed: OSStatus -50");
  EXPECT_EQ(HotkeyError::already_registered().display(), "hotkey already registered");
  EXPECT_EQ(HotkeyError::install_handler_failed(-108).display(), "InstallEventHandler failed: OSStatus -108");
  EXPECT_EQ(HotkeyError::remove_handler_failed(-9876).display(), "RemoveEventHandler failed: OSStatus -9876");
  EXPECT_EQ(HotkeyError::run_event_loop_failed(-9875).display(), "RunCurrentEventLoop failed: OSStatus -9875");
  EXPECT_EQ(HotkeyError::unregister_failed(2147483647).display(), "UnregisterEventHotKey failed: OSStatus 2147483647");
}

}  // namespace
}  // namespace kmx::testing
