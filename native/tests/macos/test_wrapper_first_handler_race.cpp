// Two threads racing to the first registration of the process install the
// process-wide Carbon handler exactly once.
#include <gtest/gtest.h>
#include <kmxsim/kmxsim.h>

#include <barrier>
#include <thread>

#include "wrapper_support.h"

namespace kmx::testing {
namespace {

TEST(FirstRegistrations, RacingThreadsInstallOneHandler) {
  kmxsim_reset();
  kmxsim_counts before{};
  kmxsim_get_counts(&before);

  std::barrier start(2);
  EdgeRecorder rec_a, rec_b;
  std::optional<velkor::Expected<velkor::Hotkey>> a, b;
  std::thread ta([&] {
    start.arrive_and_wait();
    a.emplace(velkor::register_with_options(0x00, SHIFT | CMD, 0, rec_a.callback()));
  });
  std::thread tb([&] {
    start.arrive_and_wait();
    b.emplace(velkor::register_with_options(0x0B, SHIFT | CMD, 0, rec_b.callback()));
  });
  ta.join();
  tb.join();

  ASSERT_TRUE(*a && *b);
  EXPECT_EQ(kmxsim_call_count(KMXSIM_FN_InstallEventHandler), 1u);
  kmxsim_counts after{};
  kmxsim_get_counts(&after);
  EXPECT_EQ(after.event_handlers, before.event_handlers + 1);
  EXPECT_NE(a->value().id(), b->value().id());

  // Both callbacks are reachable through the one handler.
  press_and_release(0x00, SHIFT | CMD);
  press_and_release(0x0B, SHIFT | CMD);
  EXPECT_EQ(rec_a.edges().size(), 2u);
  EXPECT_EQ(rec_b.edges().size(), 2u);
  a.reset();
  b.reset();
  kmxsim_reset();
}

}  // namespace
}  // namespace kmx::testing
