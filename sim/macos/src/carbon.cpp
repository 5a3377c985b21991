// Carbon hot keys: a registry shared with other applications, event handlers, and the application event thread
// that dispatches hot-key events to them.
#include "sim_state.h"

#include <pthread.h>

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

HotkeyRegistration* find_combination(UInt32 code, UInt32 modifiers) {
  for (auto& r : sim().hotkeys)
    if (r.keycode == code && r.modifiers == modifiers) return &r;
  return nullptr;
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

void app_thread_main() {
  pthread_setname_np(pthread_self(), "kmxsim-appevts");
  Sim& s = sim();
  std::unique_lock<std::mutex> lock(s.mu);
  s.app_thread_id = std::this_thread::get_id();
  for (;;) {
    s.cv.wait(lock, [&] { return !s.app_queue.empty(); });
    OpaqueEventRef ref{EVENT_MAGIC, s.app_queue.front()};
    s.app_queue.pop_front();
    s.app_dispatching = true;
    std::vector<Handler> matching;
    for (auto it = s.handlers.rbegin(); it != s.handlers.rend(); ++it)
      if (handles(*it, ref.event)) matching.push_back(*it);
    for (const Handler& h : matching) {
      if (!installed(h.token)) continue;
      s.handler_running = h.token;
      lock.unlock();
      const OSStatus status = h.proc(reinterpret_cast<EventHandlerCallRef>(h.token + 8), &ref, h.user_data);
      lock.lock();
      s.handler_running = 0;
      s.cv.notify_all();
      if (status != eventNotHandledErr) break;
    }
    ref.magic = 0;
    s.app_dispatching = false;
    s.cv.notify_all();
  }
}

OpaqueEventRef* checked_event(EventRef e) {
  if (e && e->magic != EVENT_MAGIC) fatal("Carbon event used outside its handler");
  return e;
}

}  // namespace

void queue_carbon_event_locked(const CarbonEvent& e) {
  Sim& s = sim();
  s.app_queue.push_back(e);
  if (!s.app_thread_started) {
    s.app_thread_started = true;
    std::thread(app_thread_main).detach();
  }
  s.cv.notify_all();
}

void hotkey_key_input_locked(uint16_t code, bool down, bool autorepeat, CGEventFlags flags) {
  Sim& s = sim();
  if (down) {
    if (autorepeat) return;
    HotkeyRegistration* r = find_combination(code, carbon_modifiers(flags));
    if (!r || r->token == 0) return;
    queue_edge_locked(*r, true);
    s.pressed_hotkeys[code] = r->token;
    return;
  }
  auto it = s.pressed_hotkeys.find(code);
  if (it == s.pressed_hotkeys.end()) return;
  // The release belongs to the combination that was pressed, whatever the modifiers are now.
  if (HotkeyRegistration* r = find_token(it->second)) queue_edge_locked(*r, false);
  s.pressed_hotkeys.erase(it);
}

int hotkey_edge_locked(UInt32 code, UInt32 modifiers, bool down) {
  HotkeyRegistration* r = find_combination(code, modifiers);
  if (!r) return KMXSIM_HOTKEY_NONE;
  if (r->token == 0) return KMXSIM_HOTKEY_OTHER_APP;
  queue_edge_locked(*r, down);
  return KMXSIM_HOTKEY_THIS_PROCESS;
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
  // Once removed, the handler's user data may be freed: wait out a call in progress on the event thread.
  if (std::this_thread::get_id() != s.app_thread_id) s.cv.wait(lock.raw(), [&] { return s.handler_running != token; });
  return noErr;
}

OSStatus RegisterEventHotKey(UInt32 inHotKeyCode, UInt32 inHotKeyModifiers, EventHotKeyID inHotKeyID,
                             EventTargetRef inTarget, OptionBits inOptions, EventHotKeyRef* outRef) {
  (void)inOptions;
  Lock lock;
  if (outRef) *outRef = nullptr;
  int32_t status = 0;
  if (should_fail(KMXSIM_FN_RegisterEventHotKey, &status)) return status;
  if (!outRef || !inTarget) return paramErr;
  if (find_combination(inHotKeyCode, inHotKeyModifiers)) return eventHotKeyExistsErr;
  HotkeyRegistration r;
  r.token = new_token();
  r.keycode = inHotKeyCode;
  r.modifiers = inHotKeyModifiers;
  r.id = inHotKeyID;
  r.target = reinterpret_cast<uintptr_t>(inTarget);
  sim().hotkeys.push_back(r);
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

OSStatus RunCurrentEventLoop(EventTimeout inTimeout) {
  if (inTimeout > 0) std::this_thread::sleep_for(std::chrono::duration<double>(std::min(inTimeout, 60.0)));
  return eventLoopTimedOutErr;
}

}  // extern "C"
