#include "platform/macos/mac_taps.h"

#include <CoreFoundation/CoreFoundation.h>

#include "model/event.h"

namespace kmx::platform::macos {
namespace {

constexpr const char* TAP_CREATE_FAILED =
    "CoreGraphics event tap could not be created. Grant Accessibility/Input Monitoring permission for raw input "
    "features";

constexpr CGEventMask bit(CGEventType type) { return CGEventMask{1} << static_cast<uint32_t>(type); }

constexpr CGEventMask KEY_EVENTS = bit(kCGEventFlagsChanged) | bit(kCGEventKeyDown) | bit(kCGEventKeyUp);
constexpr CGEventMask POINTER_EVENTS =
    bit(kCGEventLeftMouseDown) | bit(kCGEventLeftMouseUp) | bit(kCGEventRightMouseDown) | bit(kCGEventRightMouseUp) |
    bit(kCGEventOtherMouseDown) | bit(kCGEventOtherMouseUp) | bit(kCGEventLeftMouseDragged) | bit(kCGEventMouseMoved);

struct ModifierKey {
  int64_t code;
  uint32_t role;
  CGEventFlags flag;
};

// Caps lock (57) is deliberately absent: it produces no event.
constexpr ModifierKey MODIFIER_KEYS[] = {
    {54, KMX_MOD_META, kCGEventFlagMaskCommand},    {55, KMX_MOD_META, kCGEventFlagMaskCommand},
    {56, KMX_MOD_SHIFT, kCGEventFlagMaskShift},     {60, KMX_MOD_SHIFT, kCGEventFlagMaskShift},
    {58, KMX_MOD_ALT, kCGEventFlagMaskAlternate},   {61, KMX_MOD_ALT, kCGEventFlagMaskAlternate},
    {59, KMX_MOD_CONTROL, kCGEventFlagMaskControl}, {62, KMX_MOD_CONTROL, kCGEventFlagMaskControl},
};

const ModifierKey* modifier_key(int64_t code) {
  for (const ModifierKey& m : MODIFIER_KEYS)
    if (m.code == code) return &m;
  return nullptr;
}

void send_button(const TapContext& ctx, uint8_t button, bool down, CGEventRef event) {
  const CGPoint at = CGEventGetLocation(event);
  ctx.events.send(model::button_event(button, down, at.x, at.y, 0));
}

void on_key(const TapContext& ctx, CGEventType type, CGEventRef event) {
  const auto code = static_cast<uint32_t>(CGEventGetIntegerValueField(event, kCGKeyboardEventKeycode));
  uint32_t flags = synthetic_flags(event);
  if (CGEventGetIntegerValueField(event, kCGKeyboardEventAutorepeat) != 0) flags |= KMX_FLAG_AUTOREPEAT;
  ctx.events.send(model::key_event(KMX_MOD_NONE, code, type == kCGEventKeyDown, flags));
}

// The modifier's state comes from the event's aggregate flags: releasing
// left shift while right shift is held still reports shift down.
void on_flags_changed(const TapContext& ctx, CGEventRef event) {
  const int64_t code = CGEventGetIntegerValueField(event, kCGKeyboardEventKeycode);
  const ModifierKey* key = modifier_key(code);
  if (key == nullptr) return;
  const bool down = (CGEventGetFlags(event) & key->flag) != 0;
  ctx.events.send(model::key_event(key->role, static_cast<uint32_t>(code), down, synthetic_flags(event)));
}

void handle(const TapContext& ctx, CGEventType type, CGEventRef event) {
  SharedCells& cells = *ctx.cells;
  const uint32_t mask = cells.raw_mask.load(std::memory_order_acquire);
  const bool buttons = (mask & KMX_RAW_BUTTONS) != 0;
  switch (type) {
    case kCGEventLeftMouseDown:
      cells.left_held.store(true, std::memory_order_relaxed);
      if (buttons) send_button(ctx, KMX_BUTTON_LEFT, true, event);
      return;
    case kCGEventLeftMouseUp:
      if (buttons) send_button(ctx, KMX_BUTTON_LEFT, false, event);
      cells.left_held.store(false, std::memory_order_relaxed);
      return;
    case kCGEventRightMouseDown:
    case kCGEventRightMouseUp:
      if (buttons) send_button(ctx, KMX_BUTTON_RIGHT, type == kCGEventRightMouseDown, event);
      return;
    case kCGEventOtherMouseDown:
    case kCGEventOtherMouseUp:
      if (buttons) {
        const int64_t number = CGEventGetIntegerValueField(event, kCGMouseEventButtonNumber);
        send_button(ctx, number == 2 ? KMX_BUTTON_MIDDLE : KMX_BUTTON_OTHER, type == kCGEventOtherMouseDown, event);
      }
      return;
    case kCGEventMouseMoved:
    case kCGEventLeftMouseDragged:
      if ((mask & KMX_RAW_DRAG_MOTION) != 0 && cells.left_held.load(std::memory_order_relaxed)) {
        const CGPoint at = CGEventGetLocation(event);
        ctx.motion.store(model::motion_event(at.x, at.y, 0));
      }
      return;
    case kCGEventKeyDown:
    case kCGEventKeyUp:
      if ((mask & KMX_RAW_KEYS) != 0) on_key(ctx, type, event);
      return;
    case kCGEventFlagsChanged:
      if ((mask & KMX_RAW_KEYS) != 0) on_flags_changed(ctx, event);
      return;
    default:
      return;
  }
}

}  // namespace

uint32_t synthetic_flags(CGEventRef event) {
  if (CGEventGetIntegerValueField(event, kCGEventSourceUnixProcessID) == 0) return 0;
  const auto user_data = static_cast<uint64_t>(CGEventGetIntegerValueField(event, kCGEventSourceUserData));
  if (user_data == model::INJECTION_MARKER) return KMX_FLAG_SYNTHETIC | KMX_FLAG_SELF_INJECTED;
  return KMX_FLAG_SYNTHETIC;
}

CGEventRef tap_callback(CGEventTapProxy, CGEventType type, CGEventRef event, void* user_info) {
  if (user_info == nullptr) return event;
  const TapContext& ctx = *static_cast<const TapContext*>(user_info);
  // The tap-disabled notifications may come without an event: handled before the event is looked at.
  if (type == kCGEventTapDisabledByTimeout || type == kCGEventTapDisabledByUserInput) {
    ctx.cells->reenable.store(true, std::memory_order_release);
    ctx.wake->signal();
    return event;
  }
  if (event != nullptr) handle(ctx, type, event);
  return event;
}

bool may_listen_to_keys() { return CGPreflightListenEventAccess() || AXIsProcessTrusted(); }

Result<MacRawTap> MacRawTap::install(TapContext context, Kind kind) {
  // Without the permission the system would create the key tap all the same, stripped to modifier changes.
  if (kind == Kind::Keys && !may_listen_to_keys()) return KmxError::backend(TAP_CREATE_FAILED);
  auto owned = std::make_unique<TapContext>(std::move(context));
  const CGEventMask mask = kind == Kind::Keys ? KEY_EVENTS : POINTER_EVENTS;
  CFMachPortRef port = CGEventTapCreate(kCGHIDEventTap, kCGTailAppendEventTap, kCGEventTapOptionListenOnly, mask,
                                        tap_callback, owned.get());
  if (port == nullptr) return KmxError::backend(TAP_CREATE_FAILED);
  CFRunLoopSourceRef source = CFMachPortCreateRunLoopSource(kCFAllocatorDefault, port, 0);
  if (source == nullptr) {
    CFMachPortInvalidate(port);
    CFRelease(port);
    return KmxError::backend("failed to create CoreGraphics run-loop source");
  }
  CFRunLoopAddSource(CFRunLoopGetCurrent(), source, kCFRunLoopCommonModes);
  MacRawTap tap(port, source, std::move(owned));
  tap.enable();
  return tap;
}

MacRawTap::MacRawTap(MacRawTap&& other) noexcept
    : port_(other.port_), source_(other.source_), context_(std::move(other.context_)) {
  other.port_ = nullptr;
  other.source_ = nullptr;
}

MacRawTap& MacRawTap::operator=(MacRawTap&& other) noexcept {
  if (this != &other) {
    reset();
    port_ = other.port_;
    source_ = other.source_;
    context_ = std::move(other.context_);
    other.port_ = nullptr;
    other.source_ = nullptr;
  }
  return *this;
}

MacRawTap::~MacRawTap() { reset(); }

void MacRawTap::reset() noexcept {
  // Invalidating the port also invalidates its source; after that the
  // callback can no longer see the context.
  if (port_ != nullptr) CFMachPortInvalidate(port_);
  if (source_ != nullptr) CFRelease(source_);
  if (port_ != nullptr) CFRelease(port_);
  port_ = nullptr;
  source_ = nullptr;
  context_.reset();
}

void MacRawTap::enable() const {
  if (port_ != nullptr) CGEventTapEnable(port_, true);
}

Status MacTaps::sync(uint32_t mask, const TapContext& context) {
  const bool want_keys = (mask & KMX_RAW_KEYS) != 0;
  if (want_keys && !key_tap) {
    auto tap = MacRawTap::install(context, MacRawTap::Kind::Keys);
    if (!tap) return std::move(tap).error();
    key_tap.emplace(std::move(tap).value());
  } else if (!want_keys && key_tap) {
    key_tap.reset();
  }

  const bool want_pointer = (mask & (KMX_RAW_BUTTONS | KMX_RAW_DRAG_MOTION)) != 0;
  if (want_pointer && !pointer_tap) {
    auto tap = MacRawTap::install(context, MacRawTap::Kind::Pointer);
    if (!tap) return std::move(tap).error();
    pointer_tap.emplace(std::move(tap).value());
  } else if (!want_pointer && pointer_tap) {
    pointer_tap.reset();
  }

  context.cells->raw_mask.store(mask, std::memory_order_release);
  return {};
}

void MacTaps::enable_all() const {
  if (key_tap) key_tap->enable();
  if (pointer_tap) pointer_tap->enable();
}

}  // namespace kmx::platform::macos
