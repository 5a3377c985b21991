#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "platform/chord/chord.h"

namespace kmx::platform::chord {
namespace {

constexpr uint32_t CONTROL = 0x3B, SHIFT = 0x38, ALT = 0x3A, META = 0x37, K = 0x28;

std::vector<ChordStep> plan(std::vector<uint32_t> held, std::vector<uint32_t> modifiers, uint32_t main_key) {
  return plan_chord(held, modifiers, main_key);
}
ChordStep press(uint32_t code) { return {code, true}; }
ChordStep release(uint32_t code) { return {code, false}; }

TEST(PlanChord, PressesModifiersInOrderAndReleasesThemInReverse) {
  EXPECT_EQ(plan({}, {CONTROL, SHIFT}, K), (std::vector<ChordStep>{press(CONTROL), press(SHIFT), press(K), release(K),
                                                                   release(SHIFT), release(CONTROL)}));
}

TEST(PlanChord, LeavesModifiersTheUserHoldsAlone) {
  EXPECT_EQ(plan({SHIFT}, {CONTROL, SHIFT}, K),
            (std::vector<ChordStep>{press(CONTROL), press(K), release(K), release(CONTROL)}));
  EXPECT_EQ(plan({CONTROL, SHIFT, SHIFT}, {CONTROL, SHIFT}, K), (std::vector<ChordStep>{press(K), release(K)}));
}

TEST(PlanChord, WithoutModifiersPressesAndReleasesTheMainKey) {
  EXPECT_EQ(plan({}, {}, K), (std::vector<ChordStep>{press(K), release(K)}));
}

TEST(PlanChord, PressesARepeatedModifierCodeOnceAtItsFirstPosition) {
  EXPECT_EQ(
      plan({}, {SHIFT, CONTROL, SHIFT, CONTROL}, K),
      (std::vector<ChordStep>{press(SHIFT), press(CONTROL), press(K), release(K), release(CONTROL), release(SHIFT)}));
}

TEST(PlanChord, GivesAMainKeyEqualToAModifierNoSpecialTreatment) {
  EXPECT_EQ(plan({}, {SHIFT}, SHIFT),
            (std::vector<ChordStep>{press(SHIFT), press(SHIFT), release(SHIFT), release(SHIFT)}));
  // Held as a modifier does not stop it being typed as the main key.
  EXPECT_EQ(plan({SHIFT}, {SHIFT}, SHIFT), (std::vector<ChordStep>{press(SHIFT), release(SHIFT)}));
}

TEST(PlanCleanup, ReleasesWhatTheDeliveredPrefixLeftDownLatestFirst) {
  const auto six = plan({}, {CONTROL, SHIFT}, K);
  EXPECT_EQ(plan_cleanup(six, 3), (std::vector<uint32_t>{K, SHIFT, CONTROL}));
  EXPECT_EQ(plan_cleanup(six, 4), (std::vector<uint32_t>{SHIFT, CONTROL}));
  EXPECT_EQ(plan_cleanup(six, 5), (std::vector<uint32_t>{CONTROL}));
  EXPECT_EQ(plan_cleanup(six, 1), (std::vector<uint32_t>{CONTROL}));
}

TEST(PlanCleanup, NothingToReleaseBeforeTheFirstOrAfterTheLastStep) {
  const auto six = plan({}, {CONTROL, SHIFT}, K);
  EXPECT_TRUE(plan_cleanup(six, 0).empty());
  EXPECT_TRUE(plan_cleanup(six, six.size()).empty());
  EXPECT_TRUE(plan_cleanup(six, six.size() + 5).empty());
}

// Each delivered press counts: a main key equal to a modifier is released
// once per press ("cleanup of 2 key(s)"), never when one of its releases
// got through.
TEST(PlanCleanup, ReleasesAKeyPressedTwiceOncePerDeliveredPress) {
  const auto steps = plan({}, {SHIFT}, SHIFT);  // press, press, release, release
  EXPECT_EQ(plan_cleanup(steps, 1), (std::vector<uint32_t>{SHIFT}));
  EXPECT_EQ(plan_cleanup(steps, 2), (std::vector<uint32_t>{SHIFT, SHIFT}));
  EXPECT_TRUE(plan_cleanup(steps, 3).empty());
  const auto three = plan({}, {CONTROL, SHIFT}, SHIFT);  // Control, Shift, Shift, ...
  EXPECT_EQ(plan_cleanup(three, 3), (std::vector<uint32_t>{SHIFT, SHIFT, CONTROL}));
}

// Every chord over a small alphabet of codes (including repeats, a main key
// equal to a modifier and every held subset), every posted count: the
// clean-up has one entry per delivered press of a key that had no release
// delivered, newest press first.
TEST(PlanCleanup, MatchesTheKeysTheDeliveredPrefixLeftDown) {
  const uint32_t alphabet[] = {CONTROL, SHIFT, ALT, META};
  const uint32_t mains[] = {K, SHIFT};
  size_t plans = 0;
  std::vector<uint32_t> modifiers;
  auto visit = [&](auto&& self, size_t depth) -> void {
    for (uint32_t main_key : mains) {
      for (unsigned held_mask = 0; held_mask < 16; ++held_mask) {
        std::vector<uint32_t> held;
        for (unsigned b = 0; b < 4; ++b) {
          if (held_mask & (1u << b)) held.push_back(alphabet[b]);
        }
        const auto steps = plan_chord(held, modifiers, main_key);
        ++plans;
        ASSERT_GE(steps.size(), 2u);
        ASSERT_LE(steps.size(), 2 * modifiers.size() + 2);
        for (size_t posted = 0; posted <= steps.size(); ++posted) {
          std::set<uint32_t> released;  // keys with a delivered release
          for (size_t i = 0; i < posted; ++i) {
            if (!steps[i].press) released.insert(steps[i].code);
          }
          std::vector<uint32_t> expected;
          for (size_t i = posted; i-- > 0;) {
            if (steps[i].press && !released.count(steps[i].code)) expected.push_back(steps[i].code);
          }

          const auto cleanup = plan_cleanup(steps, posted);
          ASSERT_EQ(cleanup, expected) << "posted " << posted << " of " << steps.size();
          for (uint32_t code : cleanup) {
            EXPECT_TRUE(std::find(steps.begin(), steps.end(), press(code)) != steps.end());
            EXPECT_TRUE(std::find(held.begin(), held.end(), code) == held.end() || code == main_key);
          }
        }
        // The full plan leaves nothing down and never touches a held modifier.
        for (const ChordStep& s : steps) {
          if (s.code != main_key) {
            EXPECT_TRUE(std::find(held.begin(), held.end(), s.code) == held.end());
          }
        }
      }
    }
    if (depth == MAX_CHORD_MODIFIERS) return;
    for (uint32_t code : alphabet) {
      modifiers.push_back(code);
      self(self, depth + 1);
      modifiers.pop_back();
    }
  };
  visit(visit, 0);
  EXPECT_EQ(plans, 2u * 16u * (1 + 4 + 16 + 64 + 256));
}

TEST(MainKeyHeld, NamesThePortableUsageInHex) {
  EXPECT_EQ(main_key_held_message(0x28),
            "main chord key 0x28 is physically held; declining to inject rather than risk releasing a key the user "
            "still owns");
  EXPECT_EQ(main_key_held_message(0xE0).substr(0, 19), "main chord key 0xe0");
}

}  // namespace
}  // namespace kmx::platform::chord
