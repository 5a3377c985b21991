// Key state and the posted-event log.
#include "sim_test_support.h"

#include <unistd.h>

#include <vector>

namespace {

using kmxsim_test::SimTest;

class KeyStateTest : public SimTest {};

void post(CGEventSourceRef source, uint16_t code, bool down, CGEventFlags flags) {
  CGEventRef e = CGEventCreateKeyboardEvent(source, code, down);
  ASSERT_NE(e, nullptr);
  CGEventSetFlags(e, flags);
  CGEventPost(kCGHIDEventTap, e);
  CFRelease(e);
}

TEST_F(KeyStateTest, CombinedStateFollowsPhysicalAndPostedInput) {
  kmxsim_key_press(0x00);
  EXPECT_TRUE(CGEventSourceKeyState(kCGEventSourceStateCombinedSessionState, 0x00));
  EXPECT_TRUE(CGEventSourceKeyState(kCGEventSourceStateHIDSystemState, 0x00));

  CGEventSourceRef source = CGEventSourceCreate(kCGEventSourceStateCombinedSessionState);
  post(source, 0x28, true, 0);
  ASSERT_TRUE(kmxsim_flush(5000));
  EXPECT_TRUE(CGEventSourceKeyState(kCGEventSourceStateCombinedSessionState, 0x28));
  EXPECT_FALSE(CGEventSourceKeyState(kCGEventSourceStateHIDSystemState, 0x28)) << "posted input is not physical";
  post(source, 0x28, false, 0);
  ASSERT_TRUE(kmxsim_flush(5000));
  EXPECT_FALSE(CGEventSourceKeyState(kCGEventSourceStateCombinedSessionState, 0x28));
  CFRelease(source);

  kmxsim_post_key_from_process(99, 0x37, true, kCGEventFlagMaskCommand, 0);
  ASSERT_TRUE(kmxsim_flush(5000));
  uint16_t down[4];
  ASSERT_EQ(kmxsim_keys_down(down, 4), 2u);
  EXPECT_EQ(down[0], 0x00);
  EXPECT_EQ(down[1], 0x37);
  EXPECT_TRUE(CGEventSourceFlagsState(kCGEventSourceStateCombinedSessionState) & kCGEventFlagMaskCommand);

  kmxsim_reset();
  EXPECT_EQ(kmxsim_keys_down(nullptr, 0), 0u);
}

// CGEventPost only hands the event over: key state, session flags and taps see it later, in posting order.
TEST_F(KeyStateTest, PostedEventsArriveAfterThePostingDelay) {
  kmxsim_set_post_delay_us(60u * 1000 * 1000);  // held back until the delay is lifted
  CGEventSourceRef source = CGEventSourceCreate(kCGEventSourceStateCombinedSessionState);
  post(source, 0x38, true, kCGEventFlagMaskShift);
  post(source, 0x00, true, kCGEventFlagMaskShift);
  post(source, 0x00, false, kCGEventFlagMaskShift);
  CFRelease(source);
  EXPECT_FALSE(CGEventSourceKeyState(kCGEventSourceStateCombinedSessionState, 0x38));
  EXPECT_EQ(CGEventSourceFlagsState(kCGEventSourceStateCombinedSessionState), 0u);
  EXPECT_EQ(kmxsim_posted_events(nullptr, 0), 3u) << "logged when posted";
  EXPECT_FALSE(kmxsim_flush(20)) << "the barrier waits for posts on their way";

  kmxsim_set_post_delay_us(0);
  ASSERT_TRUE(kmxsim_flush(5000));
  EXPECT_TRUE(CGEventSourceKeyState(kCGEventSourceStateCombinedSessionState, 0x38));
  EXPECT_FALSE(CGEventSourceKeyState(kCGEventSourceStateCombinedSessionState, 0x00)) << "arrived in order";
  EXPECT_EQ(CGEventSourceFlagsState(kCGEventSourceStateCombinedSessionState), kCGEventFlagMaskShift)
      << "the session takes the flags of the last event";
  EXPECT_FALSE(CGEventSourceKeyState(kCGEventSourceStateHIDSystemState, 0x38));
  kmxsim_reset();
}

TEST_F(KeyStateTest, PostedEventLogRecordsWhatWasPosted) {
  CGEventSourceRef source = CGEventSourceCreate(kCGEventSourceStateCombinedSessionState);
  CGEventSourceSetUserData(source, 5);
  CGEventRef e = CGEventCreateKeyboardEvent(source, 0x38, true);
  EXPECT_EQ(CGEventGetIntegerValueField(e, kCGEventSourceUserData), 5) << "events inherit the source's user data";
  EXPECT_EQ(CGEventGetFlags(e), 0u);
  CGEventSetFlags(e, 0x120000);
  CGEventSetIntegerValueField(e, kCGEventSourceUserData, 0x4B45594D55580001);
  CGEventPost(kCGHIDEventTap, e);
  CFRelease(e);
  post(source, 0x28, true, 0x120000);
  CFRelease(source);
  kmxsim_post_key_from_process(1234, 0x01, false, 0x1, 9);

  std::vector<kmxsim_posted_event> log(8);
  ASSERT_EQ(kmxsim_posted_events(log.data(), log.size()), 3u);
  EXPECT_EQ(log[0].type, kCGEventFlagsChanged);
  EXPECT_EQ(log[0].keycode, 0x38);
  EXPECT_TRUE(log[0].down);
  EXPECT_TRUE(log[0].delivered);
  EXPECT_EQ(log[0].flags, 0x120000u);
  EXPECT_EQ(log[0].user_data, 0x4B45594D55580001);
  EXPECT_EQ(log[0].source_pid, ::getpid());
  EXPECT_EQ(log[1].type, kCGEventKeyDown);
  EXPECT_EQ(log[1].user_data, 5);
  EXPECT_EQ(log[2].source_pid, 1234);
  EXPECT_FALSE(log[2].down);
  kmxsim_clear_posted_events();
  EXPECT_EQ(kmxsim_posted_events(nullptr, 0), 0u);
  kmxsim_reset();
}

TEST_F(KeyStateTest, PhysicalFlagsFollowHeldModifiersAndCapsLock) {
  kmxsim_key_press(59);  // control
  kmxsim_key_press(57);  // caps lock toggles on
  kmxsim_key_release(57);
  const CGEventFlags flags = CGEventSourceFlagsState(kCGEventSourceStateHIDSystemState);
  EXPECT_TRUE(flags & kCGEventFlagMaskControl);
  EXPECT_TRUE(flags & kCGEventFlagMaskAlphaShift);
  EXPECT_FALSE(flags & kCGEventFlagMaskShift);
  kmxsim_key_type(57);
  EXPECT_FALSE(CGEventSourceFlagsState(kCGEventSourceStateHIDSystemState) & kCGEventFlagMaskAlphaShift);
}

}  // namespace
