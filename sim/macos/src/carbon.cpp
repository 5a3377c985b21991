// Carbon hot keys: a registry shared with other applications, event handlers, and the dispatch of hot-key events
// by the main thread's event loop.
#include "sim_state.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

struct OpaqueEventRef {
  uint32_t magic;
  kmxsim::CarbonEvent event;
};

namespace kmxsim {
namespace {

constexpr uint32_t EVENT_MAGIC = 0x45564E54;
constexpr uintptr_t APPLICATION_TARGET = 0xA990;
constexpr OSStatus errAECoercionFail = -1700;

UInt32 carbon_modifiers(CGEventFlags flags) {
  UInt32 m = 0;
  if (flags & kCGEventFlagMaskCommand) m |= cmdKey;
  if (flags & kCGEventFlagMaskShift) m |= shiftKey;
  if (flags & kCGEventFlagMaskAlternate) m |= optionKey;
  if (flags & kCGEventFlagMaskControl) m |= controlKey;
  return m;
}

// The registrations a press of the combination notifies: an exclusive holder alone, else every holder.
std::vector<HotkeyRegistration*> notified(UInt32 code, UInt32 modifiers) {
  std::vector<HotkeyRegistration*> all;
  for (auto& r : sim().hotkeys) {
    if (r.keycode != code || r.modifiers != modifiers) continue;
    if (r.exclusive) return {&r};
    all.push_back(&r);
  }
  return all;
}

HotkeyRegistration* find_token(uintptr_t token) {
  for (auto& r : sim().hotkeys)
    if (r.token == token) return &r;
  return nullptr;
}

void queue_edge_locked(const HotkeyRegistration& r, bool down) {
  queue_carbon_event_locked(CarbonEvent{
      kEventClassKeyboard, down ? UInt32{kEventHotKeyPressed} : UInt32{kEventHotKeyReleased}, r.id, r.target});
}

bool handles(const Handler& h, const CarbonEvent& e) {
  if (h.target != e.target) return false;
  return std::any_of(h.types.begin(), h.types.end(),
                     [&](const EventTypeSpec& t) { return t.eventClass == e.event_class && t.eventKind == e.kind; });
}

bool installed(uintptr_t token) {
  const auto& hs = sim().handlers;
  return std::any_of(hs.begin(), hs.end(), [&](const Handler& h) { return h.token == token; });
}

OpaqueEventRef* checked_event(EventRef e) {
  if (e && e->magic != EVENT_MAGIC) fatal("Carbon event used outside its handler");
  return e;
}

}  // namespace

bool is_main_thread() { return ::syscall(SYS_gettid) == ::getpid(); }

void queue_carbon_event_locked(const CarbonEvent& e) {
  Sim& s = sim();
  s.app_queue.push_back(e);
  if (s.main_run_loop) wake_loop_locked(s.main_run_loop);
  s.cv.notify_all();
}

void dispatch_carbon_events(Lock& lock) {
  Sim& s = sim();
  while (!s.app_queue.empty()) {
    OpaqueEventRef ref{EVENT_MAGIC, s.app_queue.front()};
    s.app_queue.pop_front();
    s.app_dispatching = true;
    std::vector<Handler> matching;
    for (auto it = s.handlers.rbegin(); it != s.handlers.rend(); ++it)
      if (handles(*it, ref.event)) matching.push_back(*it);
    for (const Handler& h : matching) {
      if (!installed(h.token)) continue;
      s.handler_running = h.token;
      lock.raw().unlock();
      const OSStatus status = h.proc(reinterpret_cast<EventHandlerCallRef>(h.token + 8), &ref, h.user_data);
      lock.raw().lock();
      s.handler_running = 0;
      s.cv.notify_all();
      if (status != eventNotHandledErr) break;
    }
    ref.magic = 0;
    s.app_dispatching = false;
    s.cv.notify_all();
  }
}

void hotkey_key_input_locked(uint16_t code, bool down, bool autorepeat, CGEventFlags flags) {
  Sim& s = sim();
  if (down) {
    if (autorepeat) return;
    for (HotkeyRegistration* r : notified(code, carbon_modifiers(flags))) {
      if (r->app != 0) continue;
      queue_edge_locked(*r, true);
      s.pressed_hotkeys[code] = r->token;
    }
    return;
  }
  auto it = s.pressed_hotkeys.find(code);
  if (it == s.pressed_hotkeys.end()) return;
  // The release belongs to the combination that was pressed, whatever the modifiers are now.
  if (HotkeyRegistration* r = find_token(it->second)) queue_edge_locked(*r, false);
  s.pressed_hotkeys.erase(it);
}

int hotkey_edge_locked(UInt32 code, UInt32 modifiers, bool down) {
  int reached = KMXSIM_HOTKEY_NONE;
  for (HotkeyRegistration* r : notified(code, modifiers)) {
    if (r->app != 0) {
      reached |= KMXSIM_HOTKEY_OTHER_APP;
      continue;
    }
    queue_edge_locked(*r, down);
    reached |= KMXSIM_HOTKEY_THIS_PROCESS;
  }
  return reached;
}

int32_t register_locked(HotkeyRegistration r) {
  auto& hs = sim().hotkeys;
  for (const auto& other : hs) {
    if (other.keycode != r.keycode || other.modifiers != r.modifiers) continue;
    // Once per application; across applications only two exclusive registrations clash.
    if (other.app == r.app || (r.exclusive && other.exclusive)) return eventHotKeyExistsErr;
  }
  hs.push_back(r);
  return noErr;
}

}  // namespace kmxsim

using namespace kmxsim;

extern "C" {

EventTargetRef GetApplicationEventTarget(void) { return reinterpret_cast<EventTargetRef>(APPLICATION_TARGET); }

UInt32 GetEventClass(EventRef inEvent) {
  OpaqueEventRef* e = checked_event(inEvent);
  return e ? e->event.event_class : 0;
}

UInt32 GetEventKind(EventRef inEvent) {
  OpaqueEventRef* e = checked_event(inEvent);
  return e ? e->event.kind : 0;
}

OSStatus GetEventParameter(EventRef inEvent, EventParamName inName, EventParamType inDesiredType,
                           EventParamType* outActualType, ByteCount inBufferSize, ByteCount* outActualSize,
                           void* outData) {
  OpaqueEventRef* e = checked_event(inEvent);
  {
    Lock lock;
    int32_t status = 0;
    if (should_fail(KMXSIM_FN_GetEventParameter, &status)) return status;
  }
  if (!e) return paramErr;
  if (inName != kEventParamDirectObject) return eventParameterNotFoundErr;
  if (inDesiredType != typeEventHotKeyID) return errAECoercionFail;
  if (outActualType) *outActualType = typeEventHotKeyID;
  if (outActualSize) *outActualSize = sizeof(EventHotKeyID);
  if (outData) {
    if (inBufferSize < sizeof(EventHotKeyID)) return paramErr;
    std::memcpy(outData, &e->event.hotkey_id, sizeof(EventHotKeyID));
  }
  return noErr;
}

OSStatus InstallEventHandler(EventTargetRef inTarget, EventHandlerUPP inHandler, ItemCount inNumTypes,
                             const EventTypeSpec* inList, void* inUserData, EventHandlerRef* outRef) {
  Lock lock;
  if (outRef) *outRef = nullptr;
  int32_t status = 0;
  if (should_fail(KMXSIM_FN_InstallEventHandler, &status)) return status;
  if (!inTarget || !inHandler || (inNumTypes > 0 && !inList)) return paramErr;
  Handler h;
  h.token = new_token();
  h.target = reinterpret_cast<uintptr_t>(inTarget);
  h.proc = inHandler;
  h.types.assign(inList, inList + inNumTypes);
  h.user_data = inUserData;
  sim().handlers.push_back(h);
  if (outRef) *outRef = reinterpret_cast<EventHandlerRef>(h.token);
  return noErr;
}

OSStatus RemoveEventHandler(EventHandlerRef inHandlerRef) {
  Lock lock;
  Sim& s = sim();
  int32_t status = 0;
  if (should_fail(KMXSIM_FN_RemoveEventHandler, &status)) return status;
  const auto token = reinterpret_cast<uintptr_t>(inHandlerRef);
  auto it = std::find_if(s.handlers.begin(), s.handlers.end(), [&](const Handler& h) { return h.token == token; });
  if (it == s.handlers.end()) return paramErr;
  s.handlers.erase(it);
  // Once removed, the handler's user data may be freed: wait out a call in progress on the main thread.
  if (!is_main_thread()) s.cv.wait(lock.raw(), [&] { return s.handler_running != token; });
  return noErr;
}

OSStatus RegisterEventHotKey(UInt32 inHotKeyCode, UInt32 inHotKeyModifiers, EventHotKeyID inHotKeyID,
                             EventTargetRef inTarget, OptionBits inOptions, EventHotKeyRef* outRef) {
  Lock lock;
  if (outRef) *outRef = nullptr;
  int32_t status = 0;
  if (should_fail(KMXSIM_FN_RegisterEventHotKey, &status)) return status;
  if (!outRef || !inTarget || (inOptions & ~OptionBits{kEventHotKeyExclusive}) != 0) return paramErr;
  HotkeyRegistration r;
  r.token = new_token();
  r.keycode = inHotKeyCode;
  r.modifiers = inHotKeyModifiers;
  r.exclusive = (inOptions & kEventHotKeyExclusive) != 0;
  r.id = inHotKeyID;
  r.target = reinterpret_cast<uintptr_t>(inTarget);
  if (OSStatus refused = register_locked(r); refused != noErr) return refused;
  *outRef = reinterpret_cast<EventHotKeyRef>(r.token);
  return noErr;
}

OSStatus UnregisterEventHotKey(EventHotKeyRef inHotKey) {
  Lock lock;
  Sim& s = sim();
  int32_t status = 0;
  if (should_fail(KMXSIM_FN_UnregisterEventHotKey, &status)) return status;
  const auto token = reinterpret_cast<uintptr_t>(inHotKey);
  if (token == 0 || !find_token(token)) return eventHotKeyInvalidErr;
  std::erase_if(s.hotkeys, [&](const HotkeyRegistration& r) { return r.token == token; });
  std::erase_if(s.pressed_hotkeys, [&](const auto& p) { return p.second == token; });
  return noErr;
}

// Application-target events belong to the main event loop: on any other thread this only waits.
OSStatus RunCurrentEventLoop(EventTimeout inTimeout) {
  using Clock = std::chrono::steady_clock;
  const bool forever = inTimeout < 0;
  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(forever ? 0 : inTimeout));
  Lock lock;
  Sim& s = sim();
  const bool main = is_main_thread();
  if (main) ++s.main_loop_running;
  for (;;) {
    if (main) dispatch_carbon_events(lock);
    if (!forever && Clock::now() >= deadline) break;
    auto ready = [&] { return main && !s.app_queue.empty(); };
    if (forever)
      s.cv.wait(lock.raw(), ready);
    else
      s.cv.wait_until(lock.raw(), deadline, ready);
  }
  if (main) --s.main_loop_running;
  s.cv.notify_all();
  return eventLoopTimedOutErr;
}

}  // extern "C"
