// Carbon hot keys: the shared registry, exclusivity, exact modifier matching, dispatch by the main thread's event
// loop only.
#include "sim_test_support.h"

#include <Carbon/Carbon.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <vector>

namespace {

using kmxsim_test::SimTest;

struct Dispatched {
  UInt32 event_class;
  UInt32 kind;
  EventHotKeyID id;
  std::thread::id thread;
};

struct Handled {
  std::mutex mu;
  std::vector<Dispatched> events;
  OSStatus result = noErr;
  std::vector<Dispatched> take() {
    std::lock_guard<std::mutex> lock(mu);
    return std::move(events);
  }
};

OSStatus handler(EventHandlerCallRef, EventRef event, void* user_data) {
  auto* h = static_cast<Handled*>(user_data);
  EventHotKeyID id{};
  OSStatus status =
      GetEventParameter(event, kEventParamDirectObject, typeEventHotKeyID, nullptr, sizeof id, nullptr, &id);
  if (status != noErr) return status;
  std::lock_guard<std::mutex> lock(h->mu);
  h->events.push_back({GetEventClass(event), GetEventKind(event), id, std::this_thread::get_id()});
  return h->result;
}

const EventTypeSpec HOTKEY_EVENTS[] = {{kEventClassKeyboard, kEventHotKeyPressed},
                                       {kEventClassKeyboard, kEventHotKeyReleased}};

class CarbonHotkeyTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    install(handled_, &handler_ref_);
  }
  void TearDown() override {
    for (EventHotKeyRef r : registered_) EXPECT_EQ(UnregisterEventHotKey(r), noErr);
    EXPECT_EQ(RemoveEventHandler(handler_ref_), noErr);
    SimTest::TearDown();
  }
  static void install(Handled& h, EventHandlerRef* out) {
    ASSERT_EQ(InstallEventHandler(GetApplicationEventTarget(), NewEventHandlerUPP(handler), 2, HOTKEY_EVENTS, &h, out),
              noErr);
  }
  OSStatus reg(UInt32 code, UInt32 modifiers, UInt32 id, OptionBits options = 0) {
    EventHotKeyRef ref = nullptr;
    OSStatus status =
        RegisterEventHotKey(code, modifiers, EventHotKeyID{0x62726E64, id}, GetApplicationEventTarget(), options, &ref);
    if (status == noErr) registered_.push_back(ref);
    return status;
  }
  // Input delivered, then the queued Carbon events dispatched by this (the main) thread's event loop.
  static void flush() {
    ASSERT_TRUE(kmxsim_flush(5000));
    EXPECT_EQ(RunCurrentEventLoop(0), eventLoopTimedOutErr);
  }

  Handled handled_;
  EventHandlerRef handler_ref_ = nullptr;
  std::vector<EventHotKeyRef> registered_;
};

TEST_F(CarbonHotkeyTest, CombinationIsOncePerApplicationAndSharedBetweenApplications) {
  EXPECT_EQ(reg(0x28, cmdKey | shiftKey, 1), noErr);
  EXPECT_EQ(reg(0x28, cmdKey | shiftKey, 2), eventHotKeyExistsErr) << "same application";
  EXPECT_EQ(reg(0x28, cmdKey | shiftKey, 2, kEventHotKeyExclusive), eventHotKeyExistsErr) << "same application";
  EXPECT_EQ(reg(0x28, cmdKey, 3), noErr) << "other modifiers are another combination";
  // Options 0: other applications may hold the combination too, and everyone is notified.
  EXPECT_EQ(kmxsim_other_app_register_hotkey(1, 0x28, cmdKey | shiftKey, 0), noErr);
  EXPECT_EQ(kmxsim_other_app_register_hotkey(2, 0x28, cmdKey | shiftKey, kEventHotKeyExclusive), noErr)
      << "no exclusive holder yet";
  EXPECT_EQ(kmxsim_other_app_register_hotkey(1, 0x28, cmdKey | shiftKey, 0), eventHotKeyExistsErr);
  EXPECT_EQ(kmxsim_hotkey_press(0x28, cmdKey | shiftKey), KMXSIM_HOTKEY_OTHER_APP) << "the exclusive holder alone";
  kmxsim_other_app_unregister_hotkey(2, 0x28, cmdKey | shiftKey);
  EXPECT_EQ(kmxsim_hotkey_press(0x28, cmdKey | shiftKey), KMXSIM_HOTKEY_THIS_PROCESS | KMXSIM_HOTKEY_OTHER_APP);
  kmxsim_counts c{};
  kmxsim_get_counts(&c);
  EXPECT_EQ(c.hotkeys, before_.hotkeys + 2);
  EXPECT_EQ(c.other_app_hotkeys, before_.other_app_hotkeys + 1);
  flush();
  EXPECT_EQ(handled_.take().size(), 1u);
}

TEST_F(CarbonHotkeyTest, ExclusiveRegistrationsClashOnlyWithEachOther) {
  ASSERT_EQ(kmxsim_other_app_register_hotkey(1, 0x31, optionKey, 0), noErr);
  EXPECT_EQ(reg(0x31, optionKey, 4, kEventHotKeyExclusive), noErr) << "a non-exclusive holder does not refuse it";
  EXPECT_EQ(kmxsim_hotkey_press(0x31, optionKey), KMXSIM_HOTKEY_THIS_PROCESS) << "and no longer hears the press";
  ASSERT_EQ(kmxsim_other_app_register_hotkey(2, 0x32, optionKey, kEventHotKeyExclusive), noErr);
  EXPECT_EQ(reg(0x32, optionKey, 5, kEventHotKeyExclusive), eventHotKeyExistsErr);
  EXPECT_EQ(reg(0x32, optionKey, 6), noErr) << "a non-exclusive registration is accepted, but not notified";
  EXPECT_EQ(kmxsim_hotkey_press(0x32, optionKey), KMXSIM_HOTKEY_OTHER_APP);
  EXPECT_EQ(reg(0x33, optionKey, 7, ~OptionBits{0}), paramErr);
  flush();
  ASSERT_EQ(handled_.take().size(), 1u);
}

TEST_F(CarbonHotkeyTest, UnregisteringTwiceIsAnError) {
  EventHotKeyRef ref = nullptr;
  ASSERT_EQ(RegisterEventHotKey(0x00, controlKey, EventHotKeyID{1, 1}, GetApplicationEventTarget(), 0, &ref), noErr);
  EXPECT_EQ(UnregisterEventHotKey(ref), noErr);
  EXPECT_EQ(UnregisterEventHotKey(ref), eventHotKeyInvalidErr);
  EXPECT_FALSE(kmxsim_hotkey_registered(0x00, controlKey));
}

TEST_F(CarbonHotkeyTest, ExactCombinationWaitsForTheMainThreadsEventLoop) {
  ASSERT_EQ(reg(0x28, cmdKey | shiftKey, 7), noErr);
  EXPECT_EQ(kmxsim_hotkey_press(0x28, cmdKey), KMXSIM_HOTKEY_NONE);
  EXPECT_EQ(kmxsim_hotkey_press(0x28, cmdKey | shiftKey | controlKey), KMXSIM_HOTKEY_NONE);
  EXPECT_EQ(kmxsim_hotkey_press(0x28, cmdKey | shiftKey), KMXSIM_HOTKEY_THIS_PROCESS);
  EXPECT_EQ(kmxsim_hotkey_release(0x28, cmdKey | shiftKey), KMXSIM_HOTKEY_THIS_PROCESS);
  ASSERT_TRUE(kmxsim_flush(5000));
  EXPECT_TRUE(handled_.take().empty()) << "nothing runs the application's event loop yet";
  // Another thread's event loop is not the application's.
  std::thread([] { EXPECT_EQ(RunCurrentEventLoop(0.01), eventLoopTimedOutErr); }).join();
  EXPECT_EQ(kmxsim_pending_hotkey_events(), 2u);
  flush();
  auto events = handled_.take();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].event_class, UInt32{kEventClassKeyboard});
  EXPECT_EQ(events[0].kind, UInt32{kEventHotKeyPressed});
  EXPECT_EQ(events[1].kind, UInt32{kEventHotKeyReleased});
  EXPECT_EQ(events[0].id.signature, 0x62726E64u);
  EXPECT_EQ(events[0].id.id, 7u);
  EXPECT_EQ(events[0].thread, std::this_thread::get_id()) << "the test runs on the main thread";
  EXPECT_EQ(kmxsim_pending_hotkey_events(), 0u);
}

OSStatus stop_main_loop(EventHandlerCallRef, EventRef, void* user_data) {
  *static_cast<std::thread::id*>(user_data) = std::this_thread::get_id();
  CFRunLoopStop(CFRunLoopGetCurrent());
  return noErr;
}

// An AppKit host runs the main thread's CFRunLoop; it dispatches Carbon events too.
TEST_F(CarbonHotkeyTest, MainRunLoopDispatchesCarbonEvents) {
  ASSERT_EQ(reg(0x29, controlKey, 8), noErr);
  std::thread::id ran_on;
  EventHandlerRef stopper = nullptr;
  ASSERT_EQ(InstallEventHandler(GetApplicationEventTarget(), stop_main_loop, 2, HOTKEY_EVENTS, &ran_on, &stopper),
            noErr);
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  CFFileDescriptorRef keep_running = CFFileDescriptorCreate(kCFAllocatorDefault, pair[0], true, nullptr, nullptr);
  CFRunLoopSourceRef source = CFFileDescriptorCreateRunLoopSource(kCFAllocatorDefault, keep_running, 0);
  CFRunLoopAddSource(CFRunLoopGetCurrent(), source, kCFRunLoopCommonModes);
  std::thread presser([] { EXPECT_EQ(kmxsim_hotkey_press(0x29, controlKey), KMXSIM_HOTKEY_THIS_PROCESS); });
  CFRunLoopRun();
  presser.join();
  EXPECT_EQ(ran_on, std::this_thread::get_id());
  EXPECT_EQ(RemoveEventHandler(stopper), noErr);
  CFFileDescriptorInvalidate(keep_running);
  CFRelease(source);
  CFRelease(keep_running);
  ::close(pair[1]);
}

TEST_F(CarbonHotkeyTest, OtherApplicationsCombinationIsNotDispatchedHere) {
  ASSERT_EQ(kmxsim_other_app_register_hotkey(1, 0x01, controlKey, 0), noErr);
  EXPECT_EQ(kmxsim_hotkey_press(0x01, controlKey), KMXSIM_HOTKEY_OTHER_APP);
  flush();
  EXPECT_TRUE(handled_.take().empty());
}

TEST_F(CarbonHotkeyTest, TypedAndPostedKeysTriggerTheHotKeyWithExactModifiers) {
  ASSERT_EQ(reg(0x28, cmdKey | shiftKey, 9), noErr);
  kmxsim_key_press(55);
  kmxsim_key_type(0x28);  // command alone: no match
  kmxsim_key_press(56);
  kmxsim_key_press(0x28);
  kmxsim_key_repeat(0x28);
  kmxsim_key_release(55);
  kmxsim_key_release(0x28);  // released with other modifiers: still the release of the pressed combination
  kmxsim_key_release(56);
  flush();
  auto events = handled_.take();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, UInt32{kEventHotKeyPressed});
  EXPECT_EQ(events[1].kind, UInt32{kEventHotKeyReleased});

  CGEventRef e = CGEventCreateKeyboardEvent(nullptr, 0x28, true);
  CGEventSetFlags(e, kCGEventFlagMaskCommand | kCGEventFlagMaskShift);
  CGEventPost(kCGHIDEventTap, e);
  CFRelease(e);
  e = CGEventCreateKeyboardEvent(nullptr, 0x28, false);
  CGEventPost(kCGHIDEventTap, e);
  CFRelease(e);
  flush();
  EXPECT_EQ(handled_.take().size(), 2u);
}

TEST_F(CarbonHotkeyTest, NewestHandlerFirstAndOnlyUnhandledEventsPassOn) {
  ASSERT_EQ(reg(0x02, optionKey, 3), noErr);
  Handled newer;
  EventHandlerRef newer_ref = nullptr;
  install(newer, &newer_ref);
  kmxsim_hotkey_press(0x02, optionKey);
  flush();
  EXPECT_EQ(newer.take().size(), 1u);
  EXPECT_TRUE(handled_.take().empty()) << "a handled event goes to no other handler";

  newer.result = eventNotHandledErr;
  kmxsim_hotkey_press(0x02, optionKey);
  flush();
  EXPECT_EQ(newer.take().size(), 1u);
  EXPECT_EQ(handled_.take().size(), 1u);

  EXPECT_EQ(RemoveEventHandler(newer_ref), noErr);
  EXPECT_EQ(RemoveEventHandler(newer_ref), paramErr);
  kmxsim_hotkey_press(0x02, optionKey);
  flush();
  EXPECT_TRUE(newer.take().empty());
  EXPECT_EQ(handled_.take().size(), 1u);
}

OSStatus probe_parameters(EventHandlerCallRef, EventRef event, void* user_data) {
  auto* results = static_cast<std::vector<OSStatus>*>(user_data);
  EventHotKeyID id{};
  ByteCount size = 0;
  EventParamType type = 0;
  results->push_back(
      GetEventParameter(event, 0x6B636F64 /* 'kcod' */, typeEventHotKeyID, nullptr, sizeof id, nullptr, &id));
  results->push_back(GetEventParameter(event, kEventParamDirectObject, typeEventHotKeyID, &type, 4, &size, &id));
  results->push_back(
      GetEventParameter(event, kEventParamDirectObject, typeEventHotKeyID, &type, sizeof id, &size, &id));
  results->push_back(static_cast<OSStatus>(size));
  results->push_back(static_cast<OSStatus>(id.id));
  return noErr;
}

TEST_F(CarbonHotkeyTest, EventParameterIsTheEightByteHotKeyId) {
  ASSERT_EQ(reg(0x03, controlKey, 11), noErr);
  std::vector<OSStatus> results;
  EventHandlerRef ref = nullptr;
  ASSERT_EQ(InstallEventHandler(GetApplicationEventTarget(), probe_parameters, 2, HOTKEY_EVENTS, &results, &ref),
            noErr);
  kmxsim_hotkey_press(0x03, controlKey);
  flush();
  EXPECT_EQ(RemoveEventHandler(ref), noErr);
  ASSERT_EQ(results.size(), 5u);
  EXPECT_EQ(results[0], eventParameterNotFoundErr);
  EXPECT_EQ(results[1], paramErr) << "buffer too small";
  EXPECT_EQ(results[2], noErr);
  EXPECT_EQ(results[3], 8);
  EXPECT_EQ(results[4], 11);
}

}  // namespace
