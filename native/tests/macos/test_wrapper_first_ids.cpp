// Hot-key ids in a fresh process: 1, 2, 3, ... per registration attempt.
#include <gtest/gtest.h>
#include <kmxsim/kmxsim.h>

#include "wrapper_support.h"

namespace kmx::testing {
namespace {

TEST(FirstRegistrations, TakeIdsInOrderAndARefusalConsumesOne) {
  kmxsim_reset();
  ASSERT_EQ(kmxsim_other_app_register_hotkey(1, 0x04, CMD, kEventHotKeyExclusive), 0);
  auto noop = [](velkor::HotkeyEdge) {};

  auto first = velkor::register_with_options(0x00, CMD, 0, noop);
  auto second = velkor::register_with_options(0x0B, CMD, 0, noop);
  auto third = velkor::register_with_options(0x08, CMD, 0, noop);
  auto refused = velkor::register_with_options(0x04, CMD, kEventHotKeyExclusive, noop);
  auto fourth = velkor::register_with_options(0x02, CMD, 0, noop);

  ASSERT_TRUE(first && second && third && fourth);
  EXPECT_EQ(first.value().id(), 1u);
  EXPECT_EQ(second.value().id(), 2u);
  EXPECT_EQ(third.value().id(), 3u);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().display(), "hotkey already registered");
  EXPECT_EQ(fourth.value().id(), 5u);
  kmxsim_reset();
}

}  // namespace
}  // namespace kmx::testing
