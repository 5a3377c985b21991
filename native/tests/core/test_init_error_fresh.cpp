// Runs alone in its own process: nothing has failed yet.
#include <gtest/gtest.h>
#include <keymux/keymux.h>

TEST(InitError, EmptyBeforeAnyFailedCreation) {
  char buf[16] = "untouched";
  EXPECT_EQ(kmx_last_init_error(buf, sizeof buf), 1u);
  EXPECT_STREQ(buf, "");
}
