// Event taps: delivery thread, what each kind of input looks like, masks, disabling, permissions.
#include "sim_test_support.h"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

#include <mutex>
#include <vector>

namespace {

using kmxsim_test::LoopThread;
using kmxsim_test::SimTest;

constexpr int64_t MARKER = 0x4B45594D55580001;

struct Seen {
  CGEventType type;
  int64_t keycode;
  int64_t autorepeat;
  int64_t button;
  int64_t pid;
  int64_t user_data;
  CGEventFlags flags;
  CGPoint location;
  std::thread::id thread;
};

struct Recorder {
  std::mutex mu;
  std::vector<Seen> seen;
  std::vector<Seen> take() {
    std::lock_guard<std::mutex> lock(mu);
    return std::move(seen);
  }
};

CGEventRef record(CGEventTapProxy, CGEventType type, CGEventRef event, void* info) {
  auto* r = static_cast<Recorder*>(info);
  if (event == nullptr) {
    std::lock_guard<std::mutex> lock(r->mu);
    r->seen.push_back(Seen{type, -1, -1, -1, -1, -1, 0, CGPoint{0, 0}, std::this_thread::get_id()});
    return event;
  }
  Seen s{type,
         CGEventGetIntegerValueField(event, kCGKeyboardEventKeycode),
         CGEventGetIntegerValueField(event, kCGKeyboardEventAutorepeat),
         CGEventGetIntegerValueField(event, kCGMouseEventButtonNumber),
         CGEventGetIntegerValueField(event, kCGEventSourceUnixProcessID),
         CGEventGetIntegerValueField(event, kCGEventSourceUserData),
         CGEventGetFlags(event),
         CGEventGetLocation(event),
         std::this_thread::get_id()};
  std::lock_guard<std::mutex> lock(r->mu);
  r->seen.push_back(s);
  return event;
}

constexpr CGEventMask KEY_MASK =
    CGEventMaskBit(kCGEventKeyDown) | CGEventMaskBit(kCGEventKeyUp) | CGEventMaskBit(kCGEventFlagsChanged);
constexpr CGEventMask POINTER_MASK = CGEventMaskBit(kCGEventLeftMouseDown) | CGEventMaskBit(kCGEventLeftMouseUp) |
                                     CGEventMaskBit(kCGEventRightMouseDown) | CGEventMaskBit(kCGEventRightMouseUp) |
                                     CGEventMaskBit(kCGEventOtherMouseDown) | CGEventMaskBit(kCGEventOtherMouseUp) |
                                     CGEventMaskBit(kCGEventLeftMouseDragged) | CGEventMaskBit(kCGEventMouseMoved);

// One listen-only tap installed on its own run-loop thread, as the backend worker does it.
class TapThread {
 public:
  TapThread(CGEventMask mask, Recorder& recorder)
      : loop_(
            [this, mask, &recorder] {
              port_ = CGEventTapCreate(kCGHIDEventTap, kCGTailAppendEventTap, kCGEventTapOptionListenOnly, mask, record,
                                       &recorder);
              if (!port_) return;
              source_ = CFMachPortCreateRunLoopSource(kCFAllocatorDefault, port_, 0);
              CFRunLoopAddSource(CFRunLoopGetCurrent(), source_, kCFRunLoopCommonModes);
              CGEventTapEnable(port_, true);
            },
            [this] {
              if (!port_) return;
              CFMachPortInvalidate(port_);
              CFRelease(source_);
              CFRelease(port_);
            }) {}
  CFMachPortRef port() const { return port_; }
  std::thread::id thread() const { return loop_.id(); }

 private:
  CFMachPortRef port_ = nullptr;
  CFRunLoopSourceRef source_ = nullptr;
  LoopThread loop_;
};

class EventTapTest : public SimTest {
 protected:
  static void flush() { ASSERT_TRUE(kmxsim_flush(5000)); }
  Recorder recorder_;
};

void post_key(uint16_t code, bool down, CGEventFlags flags, int64_t user_data) {
  CGEventSourceRef source = CGEventSourceCreate(kCGEventSourceStateCombinedSessionState);
  CGEventRef e = CGEventCreateKeyboardEvent(source, code, down);
  CGEventSetFlags(e, flags);
  CGEventSetIntegerValueField(e, kCGEventSourceUserData, user_data);
  CGEventPost(kCGHIDEventTap, e);
  CFRelease(e);
  CFRelease(source);
}

TEST_F(EventTapTest, CallbackRunsOnTheThreadWhoseRunLoopHoldsTheSource) {
  TapThread tap(KEY_MASK, recorder_);
  ASSERT_NE(tap.port(), nullptr);
  kmxsim_key_type(0x00);
  flush();
  auto seen = recorder_.take();
  ASSERT_EQ(seen.size(), 2u);
  for (const Seen& s : seen) EXPECT_EQ(s.thread, tap.thread());
  EXPECT_NE(tap.thread(), std::this_thread::get_id());
}

TEST_F(EventTapTest, SourcePidAndUserDataTellTypedPostedAndForeignKeysApart) {
  TapThread tap(KEY_MASK, recorder_);
  kmxsim_key_press(0x0E);
  kmxsim_key_repeat(0x0E);
  kmxsim_key_release(0x0E);
  post_key(0x28, true, 0, MARKER);
  kmxsim_post_key_from_process(4242, 0x29, true, 0, 77);
  flush();
  auto seen = recorder_.take();
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen[0].type, kCGEventKeyDown);
  EXPECT_EQ(seen[0].pid, 0);
  EXPECT_EQ(seen[0].autorepeat, 0);
  EXPECT_EQ(seen[1].autorepeat, 1);
  EXPECT_EQ(seen[2].type, kCGEventKeyUp);
  EXPECT_EQ(seen[3].keycode, 0x28);
  EXPECT_EQ(seen[3].pid, ::getpid());
  EXPECT_EQ(seen[3].user_data, MARKER);
  EXPECT_EQ(seen[4].pid, 4242);
  EXPECT_EQ(seen[4].user_data, 77);
}

TEST_F(EventTapTest, ModifierKeysArriveAsFlagChangesWithAggregateFlags) {
  TapThread tap(KEY_MASK, recorder_);
  kmxsim_key_press(56);  // left shift
  kmxsim_key_press(60);  // right shift
  kmxsim_key_release(56);
  kmxsim_key_release(60);
  post_key(55, true, kCGEventFlagMaskCommand | kCGEventFlagMaskShift, MARKER);
  flush();
  auto seen = recorder_.take();
  ASSERT_EQ(seen.size(), 5u);
  for (const Seen& s : seen) EXPECT_EQ(s.type, kCGEventFlagsChanged);
  EXPECT_EQ(seen[0].keycode, 56);
  EXPECT_TRUE(seen[0].flags & kCGEventFlagMaskShift);
  EXPECT_TRUE(seen[2].flags & kCGEventFlagMaskShift) << "right shift still held";
  EXPECT_FALSE(seen[3].flags & kCGEventFlagMaskShift);
  EXPECT_EQ(seen[4].flags, kCGEventFlagMaskCommand | kCGEventFlagMaskShift) << "posted flags arrive unchanged";
}

TEST_F(EventTapTest, TapSeesOnlyTheTypesOfItsMask) {
  TapThread keys(KEY_MASK, recorder_);
  Recorder pointer_recorder;
  TapThread pointer(POINTER_MASK, pointer_recorder);
  kmxsim_mouse_button(0, true);
  kmxsim_key_type(0x01);
  kmxsim_mouse_button(0, false);
  flush();
  auto k = recorder_.take();
  auto p = pointer_recorder.take();
  ASSERT_EQ(k.size(), 2u);
  EXPECT_EQ(k[0].type, kCGEventKeyDown);
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p[0].type, kCGEventLeftMouseDown);
  EXPECT_EQ(p[1].type, kCGEventLeftMouseUp);
}

TEST_F(EventTapTest, PointerEventsCarryButtonNumberAndPosition) {
  TapThread tap(POINTER_MASK, recorder_);
  kmxsim_mouse_move(10, 20);
  kmxsim_mouse_button(0, true);
  kmxsim_mouse_move(30, 40);
  kmxsim_mouse_button(0, false);
  kmxsim_mouse_button(1, true);
  kmxsim_mouse_move(50, 60);  // right drags are not in the mask
  kmxsim_mouse_button(1, false);
  kmxsim_mouse_button(2, true);
  kmxsim_mouse_button(4, false);
  flush();
  auto seen = recorder_.take();
  ASSERT_EQ(seen.size(), 8u);
  EXPECT_EQ(seen[0].type, kCGEventMouseMoved);
  EXPECT_EQ(seen[0].location.x, 10);
  EXPECT_EQ(seen[0].location.y, 20);
  EXPECT_EQ(seen[1].type, kCGEventLeftMouseDown);
  EXPECT_EQ(seen[2].type, kCGEventLeftMouseDragged);
  EXPECT_EQ(seen[2].location.x, 30);
  EXPECT_EQ(seen[3].type, kCGEventLeftMouseUp);
  EXPECT_EQ(seen[4].type, kCGEventRightMouseDown);
  EXPECT_EQ(seen[5].type, kCGEventRightMouseUp);
  EXPECT_EQ(seen[5].location.x, 50);
  EXPECT_EQ(seen[6].type, kCGEventOtherMouseDown);
  EXPECT_EQ(seen[6].button, 2);
  EXPECT_EQ(seen[7].type, kCGEventOtherMouseUp);
  EXPECT_EQ(seen[7].button, 4);
}

TEST_F(EventTapTest, DisabledTapHearsTheNotificationThenNothingUntilEnabled) {
  TapThread tap(KEY_MASK, recorder_);
  EXPECT_EQ(kmxsim_disable_taps(kCGEventTapDisabledByUserInput), 1);
  EXPECT_FALSE(CGEventTapIsEnabled(tap.port()));
  kmxsim_key_type(0x02);
  flush();
  auto seen = recorder_.take();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].type, kCGEventTapDisabledByUserInput);
  EXPECT_EQ(seen[0].pid, -1) << "the notification comes without an event";
  EXPECT_EQ(kmxsim_disable_taps(kCGEventTapDisabledByTimeout), 0) << "already disabled";

  CGEventTapEnable(tap.port(), true);
  kmxsim_key_type(0x02);
  flush();
  EXPECT_EQ(recorder_.take().size(), 2u);
}

TEST_F(EventTapTest, KeyEventsNeedInputMonitoringOrAccessibility) {
  auto create = [](CGEventMask mask) {
    return CGEventTapCreate(kCGHIDEventTap, kCGTailAppendEventTap, kCGEventTapOptionListenOnly, mask, record, nullptr);
  };
  const CGEventMask key_up_down = CGEventMaskBit(kCGEventKeyDown) | CGEventMaskBit(kCGEventKeyUp);
  kmxsim_set_input_monitoring(false);
  kmxsim_set_accessibility_trusted(false);
  EXPECT_FALSE(CGPreflightListenEventAccess());
  EXPECT_EQ(create(key_up_down), nullptr) << "nothing left of the mask";
  kmxsim_set_accessibility_trusted(true);
  CFMachPortRef trusted = create(key_up_down);
  EXPECT_NE(trusted, nullptr);
  kmxsim_set_accessibility_trusted(false);
  kmxsim_set_input_monitoring(true);
  EXPECT_TRUE(CGPreflightListenEventAccess());
  CFMachPortRef monitoring = create(key_up_down);
  EXPECT_NE(monitoring, nullptr);
  kmxsim_counts c{};
  kmxsim_get_counts(&c);
  EXPECT_EQ(c.taps, before_.taps + 2);
  CFRelease(trusted);  // the last release invalidates the port
  CFMachPortInvalidate(monitoring);
  CFRelease(monitoring);
}

// The key down and key up bits leave the mask; the tap is created and hears modifier changes only.
TEST_F(EventTapTest, KeyTapWithoutPermissionHearsModifierChangesOnly) {
  kmxsim_set_input_monitoring(false);
  kmxsim_set_accessibility_trusted(false);
  TapThread tap(KEY_MASK, recorder_);
  ASSERT_NE(tap.port(), nullptr);
  kmxsim_key_press(56);
  kmxsim_key_type(0x00);
  kmxsim_key_release(56);
  flush();
  auto seen = recorder_.take();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].type, kCGEventFlagsChanged);
  EXPECT_EQ(seen[1].type, kCGEventFlagsChanged);
  Recorder pointer_recorder;
  TapThread pointer(POINTER_MASK, pointer_recorder);
  EXPECT_NE(pointer.port(), nullptr) << "pointer events need no permission";
}

TEST_F(EventTapTest, UntrustedProcessPostsNothing) {
  TapThread tap(KEY_MASK, recorder_);
  kmxsim_set_accessibility_trusted(false);
  post_key(0x00, true, 0, MARKER);
  flush();
  EXPECT_TRUE(recorder_.take().empty());
  EXPECT_FALSE(kmxsim_key_is_down(0x00));
  kmxsim_posted_event log[2];
  ASSERT_EQ(kmxsim_posted_events(log, 2), 1u);
  EXPECT_FALSE(log[0].delivered);
}

TEST_F(EventTapTest, InvalidatedTapDropsItsQueueAndLeavesTheRunLoop) {
  Recorder r;
  CFMachPortRef port =
      CGEventTapCreate(kCGHIDEventTap, kCGTailAppendEventTap, kCGEventTapOptionListenOnly, KEY_MASK, record, &r);
  CFRunLoopSourceRef source = CFMachPortCreateRunLoopSource(kCFAllocatorDefault, port, 0);
  CFRunLoopAddSource(CFRunLoopGetCurrent(), source, kCFRunLoopCommonModes);
  kmxsim_key_type(0x03);
  CFMachPortInvalidate(port);
  EXPECT_FALSE(CFRunLoopSourceIsValid(source));
  CFRunLoopRun();  // no source left: returns at once, delivering nothing
  EXPECT_TRUE(r.take().empty());
  CFRelease(source);
  CFRelease(port);
}

// A tap callback that wakes its worker through a descriptor source, as the backend asks for a re-enable.
struct Waker {
  int pair[2] = {-1, -1};
  std::atomic<int> bytes_read{0};
};

CGEventRef write_wake(CGEventTapProxy, CGEventType, CGEventRef event, void* info) {
  EXPECT_EQ(::write(static_cast<Waker*>(info)->pair[1], "w", 1), 1);
  return event;
}

void read_wake(CFFileDescriptorRef f, CFOptionFlags, void* info) {
  auto* w = static_cast<Waker*>(info);
  char buf[64];
  const ssize_t n = ::read(w->pair[0], buf, sizeof buf);
  if (n > 0) w->bytes_read += static_cast<int>(n);
  CFFileDescriptorEnableCallBacks(f, kCFFileDescriptorReadCallBack);
}

TEST_F(EventTapTest, FlushWaitsForTheWakeThatATapCallbackWrote) {
  Waker waker;
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, waker.pair), 0);
  CFMachPortRef port = nullptr;
  CFRunLoopSourceRef tap_source = nullptr;
  CFFileDescriptorRef descriptor = nullptr;
  CFRunLoopSourceRef wake_source = nullptr;
  {
    LoopThread loop(
        [&] {
          port = CGEventTapCreate(kCGHIDEventTap, kCGTailAppendEventTap, kCGEventTapOptionListenOnly, KEY_MASK,
                                  write_wake, &waker);
          tap_source = CFMachPortCreateRunLoopSource(kCFAllocatorDefault, port, 0);
          CFRunLoopAddSource(CFRunLoopGetCurrent(), tap_source, kCFRunLoopCommonModes);
          CFFileDescriptorContext context{0, &waker, nullptr, nullptr, nullptr};
          descriptor = CFFileDescriptorCreate(kCFAllocatorDefault, waker.pair[0], true, read_wake, &context);
          wake_source = CFFileDescriptorCreateRunLoopSource(kCFAllocatorDefault, descriptor, 0);
          CFRunLoopAddSource(CFRunLoopGetCurrent(), wake_source, kCFRunLoopCommonModes);
          CFFileDescriptorEnableCallBacks(descriptor, kCFFileDescriptorReadCallBack);
        },
        [&] {
          CFMachPortInvalidate(port);
          CFFileDescriptorInvalidate(descriptor);
          for (CFTypeRef o : {CFTypeRef(port), CFTypeRef(tap_source), CFTypeRef(descriptor), CFTypeRef(wake_source)})
            CFRelease(o);
        });
    kmxsim_key_type(0x04);
    flush();
    EXPECT_EQ(waker.bytes_read, 2);
    kmxsim_key_press(0x05);
    flush();
    EXPECT_EQ(waker.bytes_read, 3);
  }
  ::close(waker.pair[1]);
}

}  // namespace
