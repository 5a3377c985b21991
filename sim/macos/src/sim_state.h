// Internal state of the simulated macOS. One mutex guards everything; it is never held while a callback of the
// code under test runs.
#pragma once

#include <Carbon/Carbon.h>
#include <kmxsim/kmxsim.h>

#include <array>
#include <bitset>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kmxsim {

enum class Kind : uint32_t { RunLoop, Source, FileDescriptor, MachPort, Event, EventSource };

inline constexpr uint32_t OBJECT_MAGIC = 0x4B4D5853;

struct Object {
  explicit Object(Kind k) : kind(k) {}
  uint32_t magic = OBJECT_MAGIC;
  Kind kind;
  long refs = 1;
};

// Everything an event carries; copied per tap so that each delivery owns its snapshot.
struct EventData {
  CGEventType type = kCGEventNull;
  CGEventFlags flags = 0;
  CGPoint location{0, 0};
  bool key_down = false;
  std::map<uint32_t, int64_t> fields;

  int64_t field(uint32_t f) const {
    auto it = fields.find(f);
    return it == fields.end() ? 0 : it->second;
  }
};

struct Tap;

[[noreturn]] void fatal(const char *what);

}  // namespace kmxsim

struct __CFRunLoopSource;

struct __CFRunLoop : kmxsim::Object {
  __CFRunLoop() : Object(kmxsim::Kind::RunLoop) {}
  std::vector<__CFRunLoopSource *> sources;  // each holds one reference
  int wake_read = -1;
  int wake_write = -1;
  bool stop_requested = false;
  int running = 0;
  int in_callout = 0;
};

struct __CFRunLoopSource : kmxsim::Object {
  __CFRunLoopSource() : Object(kmxsim::Kind::Source) {}
  kmxsim::Object *owner = nullptr;  // the descriptor or port; referenced
  bool valid = true;
  std::vector<__CFRunLoop *> loops;  // the loops hold the references
};

struct __CFFileDescriptor : kmxsim::Object {
  __CFFileDescriptor() : Object(kmxsim::Kind::FileDescriptor) {}
  int fd = -1;
  bool close_on_invalidate = false;
  CFFileDescriptorCallBack callout = nullptr;
  CFFileDescriptorContext context{};
  bool valid = true;
  CFOptionFlags enabled = 0;
  __CFRunLoopSource *source = nullptr;  // weak
};

struct __CFMachPort : kmxsim::Object {
  __CFMachPort() : Object(kmxsim::Kind::MachPort) {}
  std::unique_ptr<kmxsim::Tap> tap;
  bool valid = true;
  __CFRunLoopSource *source = nullptr;  // weak
};

struct __CGEvent : kmxsim::Object {
  __CGEvent() : Object(kmxsim::Kind::Event) {}
  kmxsim::EventData data;
};

struct __CGEventSource : kmxsim::Object {
  __CGEventSource() : Object(kmxsim::Kind::EventSource) {}
  CGEventSourceStateID state = kCGEventSourceStateCombinedSessionState;
  int64_t user_data = 0;
};

namespace kmxsim {

struct Tap {
  __CFMachPort *port = nullptr;
  CGEventTapLocation location = kCGHIDEventTap;
  CGEventMask mask = 0;
  CGEventTapCallBack callback = nullptr;
  void *user_info = nullptr;
  bool enabled = true;
  bool in_callback = false;
  std::deque<EventData> pending;
};

struct CarbonEvent {
  UInt32 event_class = 0;
  UInt32 kind = 0;
  EventHotKeyID hotkey_id{};
  uintptr_t target = 0;
};

struct Handler {
  uintptr_t token = 0;
  uintptr_t target = 0;
  EventHandlerUPP proc = nullptr;
  std::vector<EventTypeSpec> types;
  void *user_data = nullptr;
};

struct HotkeyRegistration {
  uintptr_t token = 0;  // 0 for another application's registration
  int32_t app = 0;      // 0 for this process, else the simulated application's number
  UInt32 keycode = 0;
  UInt32 modifiers = 0;
  bool exclusive = false;
  EventHotKeyID id{};
  uintptr_t target = 0;
};

// An event posted with CGEventPost (or by another process) on its way into the HID stream.
struct PendingPost {
  std::chrono::steady_clock::time_point posted_at;  // due at posted_at + the posting delay in force
  EventData event;
  CGEventTapLocation at = kCGHIDEventTap;
};

struct FailureSwitch {
  uint32_t calls = 0;
  uint64_t fail_from = 0;  // 1-based call numbers [fail_from, fail_to)
  uint64_t fail_to = 0;
  int32_t status = 0;
};

struct Sim {
  std::mutex mu;
  std::condition_variable cv;  // idle changes, handler completion, app queue

  bool trusted = true;
  bool input_monitoring = true;

  std::bitset<65536> hid_down;       // physical
  std::bitset<65536> combined_down;  // physical and posted
  CGEventFlags session_flags = 0;    // flags of the last keyboard event the session saw
  bool caps_lock = false;
  std::bitset<32> buttons_down;
  CGPoint pointer{0, 0};

  std::array<FailureSwitch, KMXSIM_FN_COUNT> switches{};
  std::vector<kmxsim_posted_event> posted;

  std::vector<Tap *> taps;  // live ports' taps
  std::vector<__CFRunLoop *> loops;
  int sources = 0;
  int descriptors = 0;
  int valid_descriptors = 0;
  int events = 0;
  int event_sources = 0;

  std::vector<Handler> handlers;  // install order
  std::vector<HotkeyRegistration> hotkeys;
  std::map<uint16_t, uintptr_t> pressed_hotkeys;  // key code -> registration token, from key input
  uintptr_t next_token = 0x5100;

  // Carbon events for the application target wait here until the main thread runs its event loop.
  std::deque<CarbonEvent> app_queue;
  bool app_dispatching = false;
  int main_loop_running = 0;             // the main thread is inside RunCurrentEventLoop or CFRunLoopRun
  __CFRunLoop *main_run_loop = nullptr;  // weak; woken when a Carbon event arrives
  uintptr_t handler_running = 0;

  // Posted events reach the HID stream after this delay, on the window server's thread.
  std::chrono::microseconds post_delay{KMXSIM_DEFAULT_POST_DELAY_US};
  std::deque<PendingPost> post_queue;
  bool post_thread_started = false;
  bool post_applying = false;

  std::vector<std::function<void()>> deferred;  // user callbacks to run once the mutex is released
};

Sim &sim();

// Holds the simulation mutex; runs the deferred user callbacks after releasing it.
class Lock {
 public:
  Lock();
  ~Lock();
  Lock(const Lock &) = delete;
  Lock &operator=(const Lock &) = delete;
  std::unique_lock<std::mutex> &raw() { return lock_; }

 private:
  std::unique_lock<std::mutex> lock_;
};

// Lock held for all of these.
bool should_fail(kmxsim_function fn, int32_t *status = nullptr);
Object *checked(const void *cf, const char *caller);
void retain_locked(Object *o);
void release_locked(Object *o);
uintptr_t new_token();

void invalidate_source_locked(__CFRunLoopSource *s);
void invalidate_descriptor_locked(__CFFileDescriptor *f);
void invalidate_port_locked(__CFMachPort *p);
void wake_loop_locked(__CFRunLoop *rl);
void destroy_loop_locked(__CFRunLoop *rl);
bool tap_deliverable_locked(const Tap &t);

CGEventFlags modifier_flags_locked(const std::bitset<65536> &down);
bool is_modifier_key(uint16_t code);
// Puts an event into the HID stream at `at`: every enabled tap at or after that location that asks for its type.
void inject_locked(const EventData &e, CGEventTapLocation at);
void queue_tap_event_locked(Tap &t, const EventData &e);
// Carbon hot keys reacting to key input of the stream.
void hotkey_key_input_locked(uint16_t code, bool down, bool autorepeat, CGEventFlags flags);
int hotkey_edge_locked(UInt32 code, UInt32 modifiers, bool down);
// Enters a registration of this process (app 0) or another application; 0 or eventHotKeyExistsErr.
int32_t register_locked(HotkeyRegistration r);
void queue_carbon_event_locked(const CarbonEvent &e);
// Dispatches every queued Carbon event to the handlers of its target (main thread only).
void dispatch_carbon_events(Lock &lock);
bool is_main_thread();
// Hands an event to the window server, which puts it into the stream after the posting delay.
void queue_post_locked(EventData e, CGEventTapLocation at);
// Logs a keyboard event posted by process `pid` and, when delivered, queues it to the window server.
void post_keyboard_locked(EventData e, CGEventTapLocation at, int64_t pid, bool delivered);

}  // namespace kmxsim
