// The guard around callbacks the operating system calls into.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "util/panic_safe.h"

namespace kmx {
namespace {

TEST(CallbackGuard, CompletedBodyIsSilent) {
  int ran = 0;
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(util::log_callback_panic("cb", [&] { ++ran; }));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(ran, 1);
}

TEST(CallbackGuard, FaultWithATextIsLoggedWithIt) {
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(util::log_callback_panic("keyboard_callback_trampoline", [] { throw std::runtime_error("boom"); }));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "brindle-utils: panic in keyboard_callback_trampoline caught at C ABI boundary: boom\n");
}

TEST(CallbackGuard, TextPayloadsAreLoggedAsText) {
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(util::log_callback_panic("cb", [] { throw "literal"; }));
  EXPECT_FALSE(util::log_callback_panic("cb", [] { throw std::string("owned"); }));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "brindle-utils: panic in cb caught at C ABI boundary: literal\n"
            "brindle-utils: panic in cb caught at C ABI boundary: owned\n");
}

TEST(CallbackGuard, FaultWithoutATextIsNamedAsSuch) {
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(util::log_callback_panic("cb", [] { throw 42; }));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "brindle-utils: panic in cb caught at C ABI boundary: <non-string panic payload>\n");
}

}  // namespace
}  // namespace kmx
