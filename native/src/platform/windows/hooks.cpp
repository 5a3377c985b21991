#include "platform/windows/hooks.h"

#include "model/event.h"
#include "platform/windows/diagnostics.h"
#include "platform/windows/stats.h"
#include "platform/windows/win32_seam.h"

namespace kmx::platform::windows {

namespace {

struct HookContext {
  EventSender events;
  MotionChannel motion;
  uint32_t mask = 0;
  bool left_held = false;
};

// Hook procedures run on the installing thread, inside its message wait,
// so the context needs no lock. A plain pointer: thread_local objects with
// destructors crash at thread exit in a mingw-built DLL.
thread_local HookContext* CONTEXT = nullptr;

void set_context(HookContext* next) noexcept {
  delete CONTEXT;
  CONTEXT = next;
}

constexpr uint32_t LLKHF_INJECTED_BIT = 0x10;
constexpr uint32_t LLMHF_INJECTED_BIT = 0x1;

void on_key(WPARAM message, const KBDLLHOOKSTRUCT& info) {
  if (!CONTEXT || !(CONTEXT->mask & KMX_RAW_KEYS)) return;
  if (message != WM_KEYDOWN && message != WM_KEYUP && message != WM_SYSKEYDOWN && message != WM_SYSKEYUP) return;
  uint32_t flags = 0;
  if (info.flags & LLKHF_INJECTED_BIT) flags |= KMX_FLAG_SYNTHETIC;
  if (static_cast<uint64_t>(info.dwExtraInfo) == model::INJECTION_MARKER) flags |= KMX_FLAG_SELF_INJECTED;
  const bool down = message == WM_KEYDOWN || message == WM_SYSKEYDOWN;
  CONTEXT->events.send(model::key_event(modifier_role(info.vkCode), info.vkCode, down, flags));
  count(STATS.hook_events);
}

void on_mouse(WPARAM message, const MSLLHOOKSTRUCT& info) {
  if (!CONTEXT || !(CONTEXT->mask & (KMX_RAW_BUTTONS | KMX_RAW_DRAG_MOTION))) return;
  if (message < WM_MOUSEMOVE || message > WM_MBUTTONUP) return;
  HookContext& ctx = *CONTEXT;
  const double x = static_cast<double>(info.pt.x);
  const double y = static_cast<double>(info.pt.y);
  const uint32_t flags = (info.flags & LLMHF_INJECTED_BIT) ? KMX_FLAG_SYNTHETIC : 0;
  const bool buttons = ctx.mask & KMX_RAW_BUTTONS;
  auto button = [&](uint8_t which, bool down) {
    if (!buttons) return;
    ctx.events.send(model::button_event(which, down, x, y, flags));
    count(STATS.hook_events);
  };

  switch (message) {
    case WM_MOUSEMOVE:
      if ((ctx.mask & KMX_RAW_DRAG_MOTION) && ctx.left_held && ctx.motion.store(model::motion_event(x, y, flags)))
        count(STATS.motion_coalesced);
      break;
    case WM_LBUTTONDOWN:
      ctx.left_held = true;
      button(KMX_BUTTON_LEFT, true);
      break;
    case WM_LBUTTONUP:
      button(KMX_BUTTON_LEFT, false);
      ctx.left_held = false;
      break;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
      button(KMX_BUTTON_RIGHT, message == WM_RBUTTONDOWN);
      break;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
      button(KMX_BUTTON_MIDDLE, message == WM_MBUTTONDOWN);
      break;
    default:  // double clicks
      break;
  }
}

LRESULT CALLBACK keyboard_proc(int code, WPARAM wparam, LPARAM lparam) {
  if (code >= 0) {
    guard_callback("keyboard hook", [&] { on_key(wparam, *reinterpret_cast<const KBDLLHOOKSTRUCT*>(lparam)); });
  }
  return ::CallNextHookEx(nullptr, code, wparam, lparam);
}

LRESULT CALLBACK mouse_proc(int code, WPARAM wparam, LPARAM lparam) {
  if (code >= 0) {
    guard_callback("mouse hook", [&] { on_mouse(wparam, *reinterpret_cast<const MSLLHOOKSTRUCT*>(lparam)); });
  }
  return ::CallNextHookEx(nullptr, code, wparam, lparam);
}

// Brings one slot in line with whether its hook is wanted. A wanted hook
// that is present is installed afresh: Windows removes a hook whose thread
// did not answer in time without telling it, so the old handle may be
// dead. The new one goes in before the old one comes out; no callback runs
// in between, as this thread is not pumping messages.
Status sync_one(HHOOK& slot, bool wanted, int kind, HOOKPROC proc, const char* failure) {
  if (wanted) {
    HHOOK hook = win32().set_windows_hook_ex(kind, proc, nullptr, 0);
    if (hook == nullptr) return KmxError::backend(failure);
    if (slot != nullptr) win32().unhook_windows_hook_ex(slot);  // fails harmlessly for a removed hook
    slot = hook;
  } else if (slot != nullptr) {
    win32().unhook_windows_hook_ex(slot);
    slot = nullptr;
  }
  return {};
}

}  // namespace

uint32_t modifier_role(uint32_t vk) noexcept {
  switch (vk) {
    case VK_CONTROL:
    case VK_LCONTROL:
    case VK_RCONTROL:
      return KMX_MOD_CONTROL;
    case VK_SHIFT:
    case VK_LSHIFT:
    case VK_RSHIFT:
      return KMX_MOD_SHIFT;
    case VK_MENU:
    case VK_LMENU:
    case VK_RMENU:
      return KMX_MOD_ALT;
    case VK_LWIN:
    case VK_RWIN:
      return KMX_MOD_META;
    default:
      return KMX_MOD_NONE;
  }
}

Status sync_hooks(HookSlots& slots, uint32_t mask, const EventSender& events, const MotionChannel& motion) {
  if (Status s = sync_one(slots.keyboard, mask & KMX_RAW_KEYS, WH_KEYBOARD_LL, &keyboard_proc,
                          "SetWindowsHookExW(WH_KEYBOARD_LL) failed");
      !s)
    return s;
  const bool mouse_bits = mask & (KMX_RAW_BUTTONS | KMX_RAW_DRAG_MOTION);
  if (Status s = sync_one(slots.mouse, mouse_bits, WH_MOUSE_LL, &mouse_proc, "SetWindowsHookExW(WH_MOUSE_LL) failed");
      !s)
    return s;

  if (mask == 0) {
    set_context(nullptr);
  } else {
    // A drag in progress stays a drag across mask changes that keep the mouse.
    const bool left_held = mouse_bits && CONTEXT != nullptr && CONTEXT->left_held;
    set_context(new HookContext{events, motion, mask, left_held});
  }
  return {};
}

void remove_hooks(HookSlots& slots) noexcept {
  if (slots.keyboard != nullptr) win32().unhook_windows_hook_ex(slots.keyboard);
  if (slots.mouse != nullptr) win32().unhook_windows_hook_ex(slots.mouse);
  slots = HookSlots{};
  set_context(nullptr);
}

}  // namespace kmx::platform::windows
