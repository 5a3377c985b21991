// The test-control interface: physical input, permissions, switches, inspection and the delivery barrier.
#include "sim_state.h"

#include <dirent.h>
#include <poll.h>

#include <algorithm>
#include <chrono>

namespace kmxsim {
namespace {

void physical_key_locked(uint16_t code, bool down, bool autorepeat, const CGEventFlags* exact_flags) {
  Sim& s = sim();
  if (code == 57 && down && !autorepeat) s.caps_lock = !s.caps_lock;
  s.hid_down[code] = down;
  s.combined_down[code] = down;
  EventData e;
  e.type = is_modifier_key(code) ? kCGEventFlagsChanged : (down ? kCGEventKeyDown : kCGEventKeyUp);
  e.key_down = down;
  e.flags = exact_flags ? *exact_flags : modifier_flags_locked(s.combined_down);
  s.session_flags = e.flags;
  e.location = s.pointer;
  e.fields[kCGKeyboardEventKeycode] = code;
  e.fields[kCGKeyboardEventAutorepeat] = autorepeat ? 1 : 0;
  inject_locked(e, kCGHIDEventTap);
  hotkey_key_input_locked(code, down, autorepeat, e.flags);
}

EventData pointer_event_locked(CGEventType type, uint32_t button) {
  EventData e;
  e.type = type;
  e.flags = modifier_flags_locked(sim().combined_down);
  e.location = sim().pointer;
  e.fields[kCGMouseEventButtonNumber] = button;
  return e;
}

bool idle_locked() {
  Sim& s = sim();
  if (!s.post_queue.empty() || s.post_applying) return false;
  // Carbon events wait for the main thread; they hold the barrier only while it runs its event loop.
  if (s.main_loop_running > 0 && !is_main_thread() && (!s.app_queue.empty() || s.app_dispatching)) return false;
  for (const Tap* t : s.taps) {
    if (t->in_callback) return false;
    if (!t->pending.empty() && tap_deliverable_locked(*t)) return false;
  }
  // Descriptor sources of running loops: a callout in progress, or readable data the loop is about to hand over.
  for (const __CFRunLoop* rl : s.loops) {
    if (rl->in_callout > 0) return false;
    if (rl->running == 0) continue;
    for (const __CFRunLoopSource* src : rl->sources) {
      if (!src->valid || !src->owner || src->owner->kind != Kind::FileDescriptor) continue;
      const auto* f = static_cast<const __CFFileDescriptor*>(src->owner);
      if (!f->valid || !(f->enabled & kCFFileDescriptorReadCallBack) || f->fd < 0) continue;
      pollfd p{f->fd, POLLIN, 0};
      if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR))) return false;
    }
  }
  return true;
}

int count_open_fds() {
  DIR* d = ::opendir("/proc/self/fd");
  if (!d) return -1;
  int n = 0;
  while (const dirent* ent = ::readdir(d))
    if (ent->d_name[0] != '.') ++n;
  ::closedir(d);
  return n - 1;  // the directory stream's own descriptor
}

}  // namespace
}  // namespace kmxsim

using namespace kmxsim;

extern "C" {

void kmxsim_reset(void) {
  Lock lock;
  Sim& s = sim();
  s.trusted = true;
  s.input_monitoring = true;
  s.hid_down.reset();
  s.combined_down.reset();
  s.session_flags = 0;
  s.caps_lock = false;
  s.post_queue.clear();
  s.post_delay = std::chrono::microseconds(KMXSIM_DEFAULT_POST_DELAY_US);
  s.app_queue.clear();
  s.buttons_down.reset();
  s.pointer = CGPoint{0, 0};
  s.switches = {};
  s.posted.clear();
  std::erase_if(s.hotkeys, [](const HotkeyRegistration& r) { return r.app != 0; });
  s.pressed_hotkeys.clear();
}

void kmxsim_set_accessibility_trusted(bool trusted) {
  Lock lock;
  sim().trusted = trusted;
}

void kmxsim_set_input_monitoring(bool granted) {
  Lock lock;
  sim().input_monitoring = granted;
}

void kmxsim_key_press(uint16_t keycode) {
  Lock lock;
  physical_key_locked(keycode, true, false, nullptr);
}

void kmxsim_key_release(uint16_t keycode) {
  Lock lock;
  physical_key_locked(keycode, false, false, nullptr);
}

void kmxsim_key_repeat(uint16_t keycode) {
  Lock lock;
  physical_key_locked(keycode, true, true, nullptr);
}

void kmxsim_key_type(uint16_t keycode) {
  Lock lock;
  physical_key_locked(keycode, true, false, nullptr);
  physical_key_locked(keycode, false, false, nullptr);
}

void kmxsim_key_event(uint16_t keycode, bool down, bool autorepeat, uint64_t flags) {
  Lock lock;
  const CGEventFlags exact = flags;
  physical_key_locked(keycode, down, autorepeat, &exact);
}

void kmxsim_mouse_button(uint32_t button, bool down) {
  Lock lock;
  Sim& s = sim();
  if (button < s.buttons_down.size()) s.buttons_down[button] = down;
  CGEventType type;
  switch (button) {
    case 0:
      type = down ? kCGEventLeftMouseDown : kCGEventLeftMouseUp;
      break;
    case 1:
      type = down ? kCGEventRightMouseDown : kCGEventRightMouseUp;
      break;
    default:
      type = down ? kCGEventOtherMouseDown : kCGEventOtherMouseUp;
      break;
  }
  inject_locked(pointer_event_locked(type, button), kCGHIDEventTap);
}

void kmxsim_mouse_move(double x, double y) {
  Lock lock;
  Sim& s = sim();
  s.pointer = CGPoint{x, y};
  CGEventType type = kCGEventMouseMoved;
  uint32_t button = 0;
  if (s.buttons_down[0]) {
    type = kCGEventLeftMouseDragged;
  } else if (s.buttons_down[1]) {
    type = kCGEventRightMouseDragged;
    button = 1;
  } else if (s.buttons_down.any()) {
    type = kCGEventOtherMouseDragged;
    for (button = 2; !s.buttons_down[button]; ++button) {
    }
  }
  inject_locked(pointer_event_locked(type, button), kCGHIDEventTap);
}

void kmxsim_post_key_from_process(int32_t pid, uint16_t keycode, bool down, uint64_t flags, int64_t user_data) {
  if (pid == 0) fatal("kmxsim_post_key_from_process: pid 0 is the hardware");
  Lock lock;
  EventData e;
  e.type = down ? kCGEventKeyDown : kCGEventKeyUp;
  e.key_down = down;
  e.flags = flags;
  e.fields[kCGKeyboardEventKeycode] = keycode;
  e.fields[kCGEventSourceUserData] = user_data;
  post_keyboard_locked(e, kCGHIDEventTap, pid, true);
}

bool kmxsim_key_is_down(uint16_t keycode) {
  Lock lock;
  return sim().combined_down[keycode];
}

size_t kmxsim_keys_down(uint16_t* out, size_t cap) {
  Lock lock;
  const auto& down = sim().combined_down;
  size_t n = 0;
  for (size_t code = 0; code < down.size(); ++code) {
    if (!down[code]) continue;
    if (out && n < cap) out[n] = static_cast<uint16_t>(code);
    ++n;
  }
  return n;
}

int kmxsim_disable_taps(uint32_t reason) {
  if (reason != kCGEventTapDisabledByTimeout && reason != kCGEventTapDisabledByUserInput)
    fatal("kmxsim_disable_taps: reason must be a tap-disabled notification");
  Lock lock;
  int n = 0;
  for (Tap* t : sim().taps) {
    if (!t->port->valid || !t->enabled) continue;
    t->enabled = false;
    EventData note;
    note.type = static_cast<CGEventType>(reason);
    note.location = sim().pointer;
    queue_tap_event_locked(*t, note);
    ++n;
  }
  return n;
}

size_t kmxsim_posted_events(kmxsim_posted_event* out, size_t cap) {
  Lock lock;
  const auto& log = sim().posted;
  if (out) std::copy_n(log.begin(), std::min(cap, log.size()), out);
  return log.size();
}

void kmxsim_clear_posted_events(void) {
  Lock lock;
  sim().posted.clear();
}

int32_t kmxsim_other_app_register_hotkey(int32_t app, uint32_t keycode, uint32_t modifiers, uint32_t options) {
  if (app <= 0) fatal("kmxsim_other_app_register_hotkey: applications are numbered from 1");
  Lock lock;
  HotkeyRegistration r;
  r.app = app;
  r.keycode = keycode;
  r.modifiers = modifiers;
  r.exclusive = (options & kEventHotKeyExclusive) != 0;
  return register_locked(r);
}

void kmxsim_other_app_unregister_hotkey(int32_t app, uint32_t keycode, uint32_t modifiers) {
  Lock lock;
  std::erase_if(sim().hotkeys, [&](const HotkeyRegistration& r) {
    return r.app == app && r.keycode == keycode && r.modifiers == modifiers;
  });
}

int kmxsim_hotkey_press(uint32_t keycode, uint32_t modifiers) {
  Lock lock;
  return hotkey_edge_locked(keycode, modifiers, true);
}

int kmxsim_hotkey_release(uint32_t keycode, uint32_t modifiers) {
  Lock lock;
  return hotkey_edge_locked(keycode, modifiers, false);
}

bool kmxsim_hotkey_registered(uint32_t keycode, uint32_t modifiers) {
  Lock lock;
  const auto& hs = sim().hotkeys;
  return std::any_of(hs.begin(), hs.end(), [&](const HotkeyRegistration& r) {
    return r.app == 0 && r.keycode == keycode && r.modifiers == modifiers;
  });
}

size_t kmxsim_pending_hotkey_events(void) {
  Lock lock;
  return sim().app_queue.size();
}

void kmxsim_set_post_delay_us(uint32_t delay_us) {
  Lock lock;
  sim().post_delay = std::chrono::microseconds(delay_us);
  sim().cv.notify_all();
}

int kmxsim_stop_run_loops(void) {
  Lock lock;
  int n = 0;
  for (__CFRunLoop* rl : sim().loops) {
    if (rl->running == 0) continue;
    rl->stop_requested = true;
    wake_loop_locked(rl);
    ++n;
  }
  return n;
}

void kmxsim_fail_calls(kmxsim_function fn, uint32_t nth, uint32_t count, int32_t status) {
  if (static_cast<int>(fn) < 0 || static_cast<int>(fn) >= KMXSIM_FN_COUNT) fatal("kmxsim_fail_calls: unknown function");
  Lock lock;
  FailureSwitch& s = sim().switches[fn];
  s.fail_from = uint64_t{s.calls} + std::max<uint32_t>(nth, 1);
  s.fail_to = count == KMXSIM_FOREVER ? UINT64_MAX : s.fail_from + count;
  s.status = status;
}

void kmxsim_fail_nth_call(kmxsim_function fn, uint32_t nth, int32_t status) { kmxsim_fail_calls(fn, nth, 1, status); }

uint32_t kmxsim_call_count(kmxsim_function fn) {
  if (static_cast<int>(fn) < 0 || static_cast<int>(fn) >= KMXSIM_FN_COUNT) fatal("kmxsim_call_count: unknown function");
  Lock lock;
  return sim().switches[fn].calls;
}

void kmxsim_get_counts(kmxsim_counts* out) {
  if (!out) return;
  const int fds = count_open_fds();
  Lock lock;
  Sim& s = sim();
  kmxsim_counts c{};
  for (const Tap* t : s.taps) {
    if (!t->port->valid) continue;
    ++c.taps;
    if (t->enabled) ++c.enabled_taps;
  }
  c.run_loops = static_cast<int>(s.loops.size());
  c.run_loop_sources = s.sources;
  for (const __CFRunLoop* rl : s.loops) c.attached_sources += static_cast<int>(rl->sources.size());
  c.file_descriptors = s.descriptors;
  c.events = s.events;
  c.event_sources = s.event_sources;
  c.event_handlers = static_cast<int>(s.handlers.size());
  for (const auto& r : s.hotkeys) (r.app == 0 ? c.hotkeys : c.other_app_hotkeys) += 1;
  c.open_fds = fds;
  c.valid_file_descriptors = s.valid_descriptors;
  *out = c;
}

bool kmxsim_flush(uint32_t timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  Lock lock;
  // Data can arrive on a watched descriptor without any notification here, so look again every few milliseconds.
  while (!idle_locked()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    sim().cv.wait_for(lock.raw(),
                      std::min<std::chrono::steady_clock::duration>(deadline - now, std::chrono::milliseconds(5)));
  }
  return true;
}

}  // extern "C"
