// Failure switches: the chosen calls fail, the others succeed, and a failed call leaves nothing behind.
#include "sim_test_support.h"

#include <Carbon/Carbon.h>

#include <sys/socket.h>
#include <unistd.h>

namespace {

using kmxsim_test::SimTest;

class FailureSwitchTest : public SimTest {};

TEST_F(FailureSwitchTest, OnlyTheNthCallFails) {
  kmxsim_fail_nth_call(KMXSIM_FN_CGEventCreateKeyboardEvent, 3, 0);
  for (int call = 1; call <= 4; ++call) {
    CGEventRef e = CGEventCreateKeyboardEvent(nullptr, 0x00, true);
    EXPECT_EQ(e == nullptr, call == 3) << "call " << call;
    if (e) CFRelease(e);
  }
  EXPECT_EQ(kmxsim_call_count(KMXSIM_FN_CGEventCreateKeyboardEvent), 4u);
}

TEST_F(FailureSwitchTest, CountingStartsWhenTheSwitchIsSet) {
  CGEventSourceRef s = CGEventSourceCreate(kCGEventSourceStateCombinedSessionState);
  CFRelease(s);
  kmxsim_fail_nth_call(KMXSIM_FN_CGEventSourceCreate, 1, 0);
  EXPECT_EQ(CGEventSourceCreate(kCGEventSourceStateCombinedSessionState), nullptr);
  s = CGEventSourceCreate(kCGEventSourceStateCombinedSessionState);
  EXPECT_NE(s, nullptr);
  CFRelease(s);
}

TEST_F(FailureSwitchTest, OSStatusFunctionsReturnTheChosenStatus) {
  kmxsim_fail_nth_call(KMXSIM_FN_RegisterEventHotKey, 1, -50);
  EventHotKeyRef ref = reinterpret_cast<EventHotKeyRef>(1);
  EXPECT_EQ(RegisterEventHotKey(0x00, cmdKey, EventHotKeyID{1, 1}, GetApplicationEventTarget(), 0, &ref), -50);
  EXPECT_EQ(ref, nullptr);
  EXPECT_FALSE(kmxsim_hotkey_registered(0x00, cmdKey));

  kmxsim_fail_nth_call(KMXSIM_FN_InstallEventHandler, 1, -9868);
  EventHandlerRef handler = nullptr;
  const EventTypeSpec spec{kEventClassKeyboard, kEventHotKeyPressed};
  auto proc = [](EventHandlerCallRef, EventRef, void*) -> OSStatus { return noErr; };
  EXPECT_EQ(InstallEventHandler(GetApplicationEventTarget(), proc, 1, &spec, nullptr, &handler), -9868);
  EXPECT_EQ(handler, nullptr);
}

TEST_F(FailureSwitchTest, FailedUnregistrationKeepsTheHotKeyUntilItSucceeds) {
  EventHotKeyRef ref = nullptr;
  ASSERT_EQ(RegisterEventHotKey(0x01, shiftKey, EventHotKeyID{1, 2}, GetApplicationEventTarget(), 0, &ref), noErr);
  kmxsim_fail_calls(KMXSIM_FN_UnregisterEventHotKey, 1, KMXSIM_FOREVER, -9879);
  EXPECT_EQ(UnregisterEventHotKey(ref), -9879);
  EXPECT_EQ(UnregisterEventHotKey(ref), -9879);
  EXPECT_TRUE(kmxsim_hotkey_registered(0x01, shiftKey));
  kmxsim_reset();  // clears the switch, keeps this process' registration
  EXPECT_TRUE(kmxsim_hotkey_registered(0x01, shiftKey));
  EXPECT_EQ(UnregisterEventHotKey(ref), noErr);
}

TEST_F(FailureSwitchTest, CreationFunctionsReturnNull) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  kmxsim_fail_nth_call(KMXSIM_FN_CFFileDescriptorCreate, 1, 0);
  EXPECT_EQ(CFFileDescriptorCreate(kCFAllocatorDefault, pair[0], true, nullptr, nullptr), nullptr);
  EXPECT_NE(::write(pair[1], "x", 1), -1) << "a failed creation does not close the descriptor";

  CFFileDescriptorRef f = CFFileDescriptorCreate(kCFAllocatorDefault, pair[0], true, nullptr, nullptr);
  ASSERT_NE(f, nullptr);
  kmxsim_fail_nth_call(KMXSIM_FN_CFFileDescriptorCreateRunLoopSource, 1, 0);
  EXPECT_EQ(CFFileDescriptorCreateRunLoopSource(kCFAllocatorDefault, f, 0), nullptr);
  CFFileDescriptorInvalidate(f);
  CFRelease(f);
  ::close(pair[1]);

  auto callback = [](CGEventTapProxy, CGEventType, CGEventRef e, void*) { return e; };
  kmxsim_fail_nth_call(KMXSIM_FN_CGEventTapCreate, 1, 0);
  EXPECT_EQ(CGEventTapCreate(kCGHIDEventTap, kCGTailAppendEventTap, kCGEventTapOptionListenOnly, ~CGEventMask{0},
                             callback, nullptr),
            nullptr);
  CFMachPortRef port = CGEventTapCreate(kCGHIDEventTap, kCGTailAppendEventTap, kCGEventTapOptionListenOnly,
                                        CGEventMaskBit(kCGEventKeyDown), callback, nullptr);
  ASSERT_NE(port, nullptr);
  kmxsim_fail_nth_call(KMXSIM_FN_CFMachPortCreateRunLoopSource, 1, 0);
  EXPECT_EQ(CFMachPortCreateRunLoopSource(kCFAllocatorDefault, port, 0), nullptr);
  CFMachPortInvalidate(port);
  CFRelease(port);
}

TEST_F(FailureSwitchTest, FailedPostIsDroppedAndLogged) {
  kmxsim_fail_nth_call(KMXSIM_FN_CGEventPost, 1, 0);
  CGEventRef e = CGEventCreateKeyboardEvent(nullptr, 0x05, true);
  CGEventPost(kCGHIDEventTap, e);
  CGEventPost(kCGHIDEventTap, e);
  CFRelease(e);
  kmxsim_posted_event log[2];
  ASSERT_EQ(kmxsim_posted_events(log, 2), 2u);
  EXPECT_FALSE(log[0].delivered);
  EXPECT_TRUE(log[1].delivered);
  ASSERT_TRUE(kmxsim_flush(5000));
  EXPECT_TRUE(kmxsim_key_is_down(0x05));
  kmxsim_reset();
}

}  // namespace
