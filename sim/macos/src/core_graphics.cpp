// The HID event stream: events, listen-only taps, posting, event sources and key state.
#include "sim_state.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

namespace kmxsim {

namespace {

// A tap that cannot keep up is disabled by the system, as a Mac does with a stuck tap.
constexpr size_t MAX_PENDING_PER_TAP = 10000;

bool wants(const Tap& t, CGEventType type) {
  if (type == kCGEventTapDisabledByTimeout || type == kCGEventTapDisabledByUserInput) return true;
  return type < 64 && (t.mask & CGEventMaskBit(type)) != 0;
}

}  // namespace

void queue_tap_event_locked(Tap& t, const EventData& e) {
  t.pending.push_back(e);
  if (t.pending.size() > MAX_PENDING_PER_TAP && t.enabled) {
    t.enabled = false;
    EventData note;
    note.type = kCGEventTapDisabledByTimeout;
    note.location = sim().pointer;
    t.pending.push_back(note);
  }
  if (t.port && t.port->source)
    for (__CFRunLoop* rl : t.port->source->loops) wake_loop_locked(rl);
}

void inject_locked(const EventData& e, CGEventTapLocation at) {
  for (Tap* t : sim().taps) {
    if (!t->port->valid || !t->enabled || t->location < at || !wants(*t, e.type)) continue;
    queue_tap_event_locked(*t, e);
  }
}

namespace {

// A posted keyboard event arriving in the session: key state, session flags, taps, hot keys.
void arrive_locked(const EventData& e, CGEventTapLocation at) {
  Sim& s = sim();
  const auto code = static_cast<uint16_t>(e.field(kCGKeyboardEventKeycode));
  s.combined_down[code] = e.key_down;
  s.session_flags = e.flags;
  inject_locked(e, at);
  hotkey_key_input_locked(code, e.key_down, e.field(kCGKeyboardEventAutorepeat) != 0, e.flags);
}

// The window server: takes posted events from the queue when they are due, in posting order.
void post_thread_main() {
  pthread_setname_np(pthread_self(), "kmxsim-postevts");
  Sim& s = sim();
  Lock lock;
  for (;;) {
    s.cv.wait(lock.raw(), [&] { return !s.post_queue.empty(); });
    const auto due = s.post_queue.front().posted_at + s.post_delay;
    if (std::chrono::steady_clock::now() < due) {
      s.cv.wait_until(lock.raw(), due);
      continue;
    }
    PendingPost p = std::move(s.post_queue.front());
    s.post_queue.pop_front();
    s.post_applying = true;
    arrive_locked(p.event, p.at);
    s.post_applying = false;
    s.cv.notify_all();
  }
}

}  // namespace

void queue_post_locked(EventData e, CGEventTapLocation at) {
  Sim& s = sim();
  s.post_queue.push_back(PendingPost{std::chrono::steady_clock::now(), std::move(e), at});
  if (!s.post_thread_started) {
    s.post_thread_started = true;
    std::thread(post_thread_main).detach();
  }
  s.cv.notify_all();
}

void post_keyboard_locked(EventData e, CGEventTapLocation at, int64_t pid, bool delivered) {
  Sim& s = sim();
  const auto code = static_cast<uint16_t>(e.field(kCGKeyboardEventKeycode));
  e.fields[kCGEventSourceUnixProcessID] = pid;
  if (is_modifier_key(code)) e.type = kCGEventFlagsChanged;
  e.location = s.pointer;
  s.posted.push_back(kmxsim_posted_event{e.type, code, e.key_down, delivered, e.flags, e.field(kCGEventSourceUserData),
                                         pid, static_cast<uint32_t>(at)});
  if (delivered) queue_post_locked(std::move(e), at);
}

}  // namespace kmxsim

using namespace kmxsim;

extern "C" {

Boolean AXIsProcessTrusted(void) {
  Lock lock;
  return sim().trusted;
}

bool CGPreflightListenEventAccess(void) {
  Lock lock;
  return sim().input_monitoring;
}

CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode virtualKey, bool keyDown) {
  Lock lock;
  if (source) checked(source, "CGEventCreateKeyboardEvent");
  if (should_fail(KMXSIM_FN_CGEventCreateKeyboardEvent)) return nullptr;
  auto* e = new __CGEvent;
  ++sim().events;
  e->data.type = is_modifier_key(virtualKey) ? kCGEventFlagsChanged : (keyDown ? kCGEventKeyDown : kCGEventKeyUp);
  e->data.key_down = keyDown;
  e->data.location = sim().pointer;
  e->data.fields[kCGKeyboardEventKeycode] = virtualKey;
  e->data.fields[kCGEventSourceUserData] = source ? source->user_data : 0;
  e->data.fields[kCGEventSourceStateID] = source ? source->state : kCGEventSourceStatePrivate;
  return e;
}

CGEventType CGEventGetType(CGEventRef event) {
  Lock lock;
  if (!event) return kCGEventNull;
  checked(event, "CGEventGetType");
  return event->data.type;
}

CGPoint CGEventGetLocation(CGEventRef event) {
  Lock lock;
  if (!event) return CGPoint{0, 0};
  checked(event, "CGEventGetLocation");
  return event->data.location;
}

CGEventFlags CGEventGetFlags(CGEventRef event) {
  Lock lock;
  if (!event) return 0;
  checked(event, "CGEventGetFlags");
  return event->data.flags;
}

void CGEventSetFlags(CGEventRef event, CGEventFlags flags) {
  Lock lock;
  if (!event) return;
  checked(event, "CGEventSetFlags");
  event->data.flags = flags;
}

int64_t CGEventGetIntegerValueField(CGEventRef event, CGEventField field) {
  Lock lock;
  if (!event) return 0;
  checked(event, "CGEventGetIntegerValueField");
  return event->data.field(field);
}

void CGEventSetIntegerValueField(CGEventRef event, CGEventField field, int64_t value) {
  Lock lock;
  if (!event) return;
  checked(event, "CGEventSetIntegerValueField");
  event->data.fields[field] = value;
}

CFMachPortRef CGEventTapCreate(CGEventTapLocation tap, CGEventTapPlacement place, CGEventTapOptions options,
                               CGEventMask eventsOfInterest, CGEventTapCallBack callback, void* userInfo) {
  (void)place;
  Lock lock;
  Sim& s = sim();
  if (should_fail(KMXSIM_FN_CGEventTapCreate) || !callback) return nullptr;
  // Only listen-only taps are simulated; an active tap would need Accessibility and could alter events.
  if (options != kCGEventTapOptionListenOnly) return nullptr;
  // Events the process may not monitor leave the mask; only an empty mask fails the creation.
  if (!s.input_monitoring && !s.trusted)
    eventsOfInterest &= ~(CGEventMaskBit(kCGEventKeyDown) | CGEventMaskBit(kCGEventKeyUp));
  if (eventsOfInterest == 0) return nullptr;
  auto* port = new __CFMachPort;
  port->tap = std::make_unique<Tap>();
  Tap& t = *port->tap;
  t.port = port;
  t.location = tap;
  t.mask = eventsOfInterest;
  t.callback = callback;
  t.user_info = userInfo;
  s.taps.push_back(&t);
  return port;
}

void CGEventTapEnable(CFMachPortRef tap, bool enable) {
  Lock lock;
  checked(tap, "CGEventTapEnable");
  if (!tap->valid || !tap->tap) return;
  tap->tap->enabled = enable;
}

bool CGEventTapIsEnabled(CFMachPortRef tap) {
  Lock lock;
  checked(tap, "CGEventTapIsEnabled");
  return tap->valid && tap->tap && tap->tap->enabled;
}

void CGEventPost(CGEventTapLocation tap, CGEventRef event) {
  Lock lock;
  if (!event) return;
  checked(event, "CGEventPost");
  const bool failed = should_fail(KMXSIM_FN_CGEventPost);
  const int64_t pid = ::getpid();
  event->data.fields[kCGEventSourceUnixProcessID] = pid;
  // Without Accessibility a Mac drops posted events silently.
  post_keyboard_locked(event->data, tap, pid, !failed && sim().trusted);
}

CGEventSourceRef CGEventSourceCreate(CGEventSourceStateID stateID) {
  Lock lock;
  if (should_fail(KMXSIM_FN_CGEventSourceCreate)) return nullptr;
  auto* s = new __CGEventSource;
  s->state = stateID;
  ++sim().event_sources;
  return s;
}

void CGEventSourceSetUserData(CGEventSourceRef source, int64_t userData) {
  Lock lock;
  if (!source) return;
  checked(source, "CGEventSourceSetUserData");
  source->user_data = userData;
}

int64_t CGEventSourceGetUserData(CGEventSourceRef source) {
  Lock lock;
  if (!source) return 0;
  checked(source, "CGEventSourceGetUserData");
  return source->user_data;
}

bool CGEventSourceKeyState(CGEventSourceStateID stateID, CGKeyCode key) {
  Lock lock;
  switch (stateID) {
    case kCGEventSourceStateCombinedSessionState:
      return sim().combined_down[key];
    case kCGEventSourceStateHIDSystemState:
      return sim().hid_down[key];
    default:
      return false;
  }
}

CGEventFlags CGEventSourceFlagsState(CGEventSourceStateID stateID) {
  Lock lock;
  switch (stateID) {
    case kCGEventSourceStateCombinedSessionState:
      return sim().session_flags;
    case kCGEventSourceStateHIDSystemState:
      return modifier_flags_locked(sim().hid_down);
    default:
      return 0;
  }
}

}  // extern "C"
