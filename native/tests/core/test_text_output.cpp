// The text-output rule and the error texts and statuses.
#include "runtime_fixture.h"

namespace kmx::testing {
namespace {

TEST(TextOutput, CopiesAtMostCapacityMinusOneAndReturnsTheNeed) {
  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(capi::copy_text("0123456789", buf, 4), 11u);
  EXPECT_STREQ(buf, "012");
  EXPECT_EQ(capi::copy_text("0123456789", nullptr, 0), 11u);
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(capi::copy_text("0123456789", buf, 1), 11u);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(buf[1], 'x');
  EXPECT_EQ(capi::copy_text("", buf, sizeof buf), 1u);
  EXPECT_STREQ(buf, "");
  // The cut is at a byte position, even inside a UTF-8 sequence.
  EXPECT_EQ(capi::copy_text("\xC3\xA9t\xC3\xA9", buf, 2), 6u);
  EXPECT_EQ(std::string(buf), "\xC3");
}

TEST(Errors, DisplayTextsAndStatuses) {
  struct Row {
    KmxError error;
    const char* text;
    uint32_t status;
  };
  const Row rows[] = {
      {KmxError::invalid_argument("description is null"), "invalid argument: description is null", 1},
      {KmxError::unsupported("x"), "unsupported on this backend: x", 5},
      {KmxError::backend("y"), "backend error: y", 2},
      {KmxError::closed(), "runtime is closed", 4},
      {KmxError::timeout(), "runtime command timed out", 3},
      {KmxError::delivery_uncertain("z"), "delivery uncertain: z", 7},
      {KmxError::not_delivered("w"), "injection not delivered: w", 8},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(r.error.display(), r.text);
    EXPECT_EQ(r.error.status(), r.status);
  }
}

TEST(Errors, InitStatusSixOnlyForAbiMismatchMessages) {
  EXPECT_EQ(runtime::set_init_error(KmxError::invalid_argument("ABI mismatch: caller=0x1")), 6u);
  EXPECT_EQ(runtime::set_init_error(KmxError::invalid_argument("ABI mismatc")), 1u);
  EXPECT_EQ(runtime::set_init_error(KmxError::invalid_argument("unknown raw mask bits 0x8")), 1u);
  EXPECT_EQ(runtime::set_init_error(KmxError::backend("ABI mismatch")), 2u);
  EXPECT_EQ(last_init_error(), "backend error: ABI mismatch");
}

TEST(Errors, HexFormat) {
  EXPECT_EQ(error::hex(0x1FF), "0x1ff");
  EXPECT_EQ(error::hex(0), "0x0");
  EXPECT_EQ(error::hex(0xE0), "0xe0");
}

}  // namespace
}  // namespace kmx::testing
