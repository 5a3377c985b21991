// A failed installation of the process-wide handler is remembered: every
// later registration fails the same way and it is never retried.
#include <gtest/gtest.h>
#include <kmxsim/kmxsim.h>

#include "wrapper_support.h"

namespace kmx::testing {
namespace {

TEST(FirstRegistrations, FailedHandlerInstallationIsRememberedForTheProcess) {
  kmxsim_reset();
  kmxsim_fail_nth_call(KMXSIM_FN_InstallEventHandler, 1, -108);
  EdgeRecorder rec;

  auto first = velkor::register_with_options(0x00, CONTROL, 0, rec.callback());
  ASSERT_FALSE(first);
  EXPECT_EQ(first.error().display(), "InstallEventHandler failed: OSStatus -108");

  kmxsim_reset();  // Carbon would now accept the handler
  auto second = velkor::register_with_options(0x00, CONTROL, 0, rec.callback());
  ASSERT_FALSE(second);
  EXPECT_EQ(second.error().display(), "InstallEventHandler failed: OSStatus -108");
  EXPECT_EQ(kmxsim_call_count(KMXSIM_FN_InstallEventHandler), 0u);
  EXPECT_EQ(kmxsim_call_count(KMXSIM_FN_RegisterEventHotKey), 0u);
  EXPECT_FALSE(kmxsim_hotkey_registered(0x00, CONTROL));
  EXPECT_EQ(callback_count(), 0u);
}

}  // namespace
}  // namespace kmx::testing
