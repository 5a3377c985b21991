// Pure parts of the X11 backend: the injection ledger, event field mapping,
// lock-modifier variants and the grab table's press/release pairing.
#include <gtest/gtest.h>

#include "platform/x11/injection_ledger.h"
#include "platform/x11/x11_display.h"
#include "platform/x11/x11_hotkeys.h"
#include "platform/x11/x11_raw_mapping.h"

namespace kmx::platform::x11 {
namespace {

using namespace std::chrono_literals;

TEST(InjectionLedger, MatchesTransitionsInTheOrderTheyWereInjected) {
  InjectionLedger ledger;
  const auto t = InjectionLedger::Clock::now();
  ledger.record(37, true, t);
  ledger.record(45, true, t);
  ledger.record(45, false, t);
  ledger.record(37, false, t);
  EXPECT_TRUE(ledger.match(37, true, t));
  EXPECT_TRUE(ledger.match(45, true, t));
  EXPECT_FALSE(ledger.match(45, true, t)) << "each injection matches once";
  EXPECT_TRUE(ledger.match(45, false, t));
  EXPECT_TRUE(ledger.match(37, false, t));
  EXPECT_EQ(ledger.size(), 0u);
}

TEST(InjectionLedger, UnseenEntriesAheadOfAMatchAreDropped) {
  InjectionLedger ledger;
  const auto t = InjectionLedger::Clock::now();
  ledger.record(37, true, t);
  ledger.record(45, true, t);
  ledger.record(45, false, t);
  EXPECT_TRUE(ledger.match(45, false, t));
  EXPECT_FALSE(ledger.match(37, true, t));
  EXPECT_FALSE(ledger.match(45, true, t));
}

TEST(InjectionLedger, ForeignTransitionMatchesNothing) {
  InjectionLedger ledger;
  const auto t = InjectionLedger::Clock::now();
  ledger.record(37, true, t);
  EXPECT_FALSE(ledger.match(37, false, t));
  EXPECT_FALSE(ledger.match(38, true, t));
  EXPECT_TRUE(ledger.match(37, true, t));
}

TEST(InjectionLedger, OldEntriesExpireAndCapacityIsBounded) {
  InjectionLedger ledger;
  const auto t = InjectionLedger::Clock::now();
  ledger.record(10, true, t);
  EXPECT_FALSE(ledger.match(10, true, t + InjectionLedger::MAX_AGE + 1ms));
  for (uint32_t i = 0; i < InjectionLedger::CAPACITY + 5; ++i) ledger.record(100 + i, true, t);
  EXPECT_EQ(ledger.size(), InjectionLedger::CAPACITY);
  EXPECT_FALSE(ledger.match(100, true, t)) << "the oldest fell out";
  EXPECT_TRUE(ledger.match(105, true, t));
}

TEST(InjectionLedger, CancelTakesBackOnlyTheNewestMatchingEntry) {
  InjectionLedger ledger;
  ledger.record(37, true);
  ledger.record(45, true);
  ledger.cancel_last(37, true);
  EXPECT_EQ(ledger.size(), 2u);
  ledger.cancel_last(45, true);
  EXPECT_EQ(ledger.size(), 1u);
}

TEST(X11RawMapping, ModifierRolesComeFromTheKeysym) {
  EXPECT_EQ(modifier_role_for_keysym(0xFFE3), KMX_MOD_CONTROL);
  EXPECT_EQ(modifier_role_for_keysym(0xFFE4), KMX_MOD_CONTROL);
  EXPECT_EQ(modifier_role_for_keysym(0xFFE1), KMX_MOD_SHIFT);
  EXPECT_EQ(modifier_role_for_keysym(0xFFE2), KMX_MOD_SHIFT);
  EXPECT_EQ(modifier_role_for_keysym(0xFFE9), KMX_MOD_ALT);
  EXPECT_EQ(modifier_role_for_keysym(0xFFEA), KMX_MOD_ALT);
  EXPECT_EQ(modifier_role_for_keysym(0xFFEB), KMX_MOD_META);
  EXPECT_EQ(modifier_role_for_keysym(0xFFEC), KMX_MOD_META);
  EXPECT_EQ(modifier_role_for_keysym(0xFFE5), KMX_MOD_NONE) << "Caps Lock has no role";
  EXPECT_EQ(modifier_role_for_keysym(0x61), KMX_MOD_NONE);
}

TEST(X11RawMapping, ButtonsFollowThePortableNumbering) {
  EXPECT_EQ(button_for_x(1), KMX_BUTTON_LEFT);
  EXPECT_EQ(button_for_x(3), KMX_BUTTON_RIGHT);
  EXPECT_EQ(button_for_x(2), KMX_BUTTON_MIDDLE);
  for (uint32_t wheel : {4u, 5u, 6u, 7u}) EXPECT_FALSE(button_for_x(wheel).has_value()) << wheel;
  EXPECT_EQ(button_for_x(8), KMX_BUTTON_OTHER);
  EXPECT_EQ(button_for_x(12), KMX_BUTTON_OTHER);
  EXPECT_FALSE(button_for_x(0).has_value());
}

TEST(X11LockVariants, EveryCombinationOfTheLockBitsIsGrabbed) {
  EXPECT_EQ(lock_variants(0), (std::vector<unsigned>{0}));
  EXPECT_EQ(lock_variants(LockMask | Mod2Mask), (std::vector<unsigned>{0, LockMask, Mod2Mask, LockMask | Mod2Mask}));
  EXPECT_EQ(lock_variants(LockMask | Mod2Mask | Mod3Mask).size(), 8u);
}

class GrabTableTest : public ::testing::Test {
 protected:
  static constexpr unsigned LOCKS = LockMask | Mod2Mask;
  // The hot-key events delivered so far, as (id, down).
  std::vector<std::pair<uint64_t, int>> delivered() {
    std::vector<std::pair<uint64_t, int>> out;
    while (auto e = pipe.second.try_recv()) {
      EXPECT_EQ(e->kind, KMX_EVENT_HOTKEY);
      out.emplace_back(e->shortcut_id, e->down);
    }
    return out;
  }
  using Events = std::vector<std::pair<uint64_t, int>>;
  std::pair<EventSender, queue::Receiver<KmxEvent>> pipe = queue::channel<KmxEvent>();
  GrabTable table{pipe.first};
  X11Grab ctrl_k{45, ControlMask, LOCKS};
  X11Grab ctrl_j{44, ControlMask, LOCKS};
};

TEST_F(GrabTableTest, PressMatchesWhateverLocksAreOnAndRepeatsGiveNothingUntilRelease) {
  table.add(ctrl_k, 7, "Ctrl+K");
  EXPECT_TRUE(table.press(45, ControlMask | LockMask | Mod2Mask, LOCKS));
  EXPECT_FALSE(table.press(45, ControlMask, LOCKS));
  EXPECT_TRUE(table.release(45));
  EXPECT_FALSE(table.release(45));
  EXPECT_EQ(delivered(), (Events{{7, 1}, {7, 0}}));
}

TEST_F(GrabTableTest, TwoHeldHotkeysEachGetTheirRelease) {
  table.add(ctrl_k, 1, "Ctrl+K");
  table.add(ctrl_j, 2, "Ctrl+J");
  ASSERT_TRUE(table.press(45, ControlMask, LOCKS));
  ASSERT_TRUE(table.press(44, ControlMask, LOCKS));
  table.release(45);
  table.release(44);
  EXPECT_EQ(delivered(), (Events{{1, 1}, {2, 1}, {1, 0}, {2, 0}}));
}

TEST_F(GrabTableTest, HotkeyUnregisteredWhileHeldIsReleasedAtOnceAndNeverAgain) {
  const GrabHandle k = table.add(ctrl_k, 1, "Ctrl+K");
  const GrabHandle j = table.add(ctrl_j, 2, "Ctrl+J");
  ASSERT_TRUE(table.press(45, ControlMask, LOCKS));
  EXPECT_FALSE(table.remove(j)) << "Ctrl+J was not held";
  EXPECT_TRUE(table.remove(k));
  EXPECT_FALSE(table.release(45));
  EXPECT_FALSE(table.press(45, ControlMask, LOCKS));
  EXPECT_EQ(delivered(), (Events{{1, 1}, {1, 0}}));
}

TEST_F(GrabTableTest, MovedRegistrationReleasesTheOldIdAndPressesTheNewOne) {
  const GrabHandle old = table.add(ctrl_k, 1, "Ctrl+K");
  ASSERT_TRUE(table.press(45, ControlMask, LOCKS));
  table.add(ctrl_k, 2, "Ctrl+K");
  EXPECT_TRUE(table.remove(old));
  EXPECT_FALSE(table.release(45)) << "the old hold ended with its registration";
  EXPECT_TRUE(table.press(45, ControlMask, LOCKS));
  EXPECT_EQ(delivered(), (Events{{1, 1}, {1, 0}, {2, 1}}));
}

TEST_F(GrabTableTest, KeysWithoutTheirOwnGrabGiveNothing) {
  table.add(ctrl_k, 1, "Ctrl+K");
  EXPECT_FALSE(table.press(45, ControlMask | ShiftMask, LOCKS));
  EXPECT_FALSE(table.press(46, ControlMask, LOCKS));
  EXPECT_FALSE(table.release(46));
  EXPECT_TRUE(table.grabs_keycode(45));
  EXPECT_FALSE(table.grabs_keycode(46));
  EXPECT_TRUE(delivered().empty());
}

}  // namespace
}  // namespace kmx::platform::x11
