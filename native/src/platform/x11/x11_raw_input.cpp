#include "platform/x11/x11_raw_input.h"

#include <cstring>

#include "model/event.h"
#include "platform/x11/x11_raw_mapping.h"

namespace kmx::platform::x11 {

namespace {

constexpr uint32_t bit(int event) { return 1u << event; }

// How long a reported button waits for its recorded position; normally the
// recording is there before the raw event is read.
constexpr int RECORDING_WAIT_MS = 100;

// XISelectEvents' wire form: a device, its mask length in words, the words.
struct DeviceMask {
  xcb_input_event_mask_t head;
  uint32_t bits;
};
static_assert(sizeof(DeviceMask) == 8);

}  // namespace

int X11RawInput::xinput2_opcode(Display* display) {
  int event_base = 0, error_base = 0, opcode = 0;
  if (!XQueryExtension(display, "XInputExtension", &opcode, &event_base, &error_base)) return -1;
  int major = 2, minor = 2;
  if (XIQueryVersion(display, &major, &minor) != Success) return -1;
  return (major > 2 || (major == 2 && minor >= 2)) ? opcode : -1;
}

X11RawInput::X11RawInput(Display* display, EventSender events, MotionChannel motion,
                         std::shared_ptr<InjectionLedger> ledger, KeyHook key_hook)
    : display_(display),
      events_(std::move(events)),
      motion_(std::move(motion)),
      ledger_(std::move(ledger)),
      key_hook_(std::move(key_hook)),
      opcode_(xinput2_opcode(display)) {}

Result<void> X11RawInput::sync(uint32_t mask) {
  if (selected_ && mask == mask_) return {};
  if (!available()) {
    if (mask == 0) return {};
    return KmxError::backend("raw input needs XInput 2.2, which X11 display " + display_label() + " lacks");
  }
  // Buttons are followed whatever the mask, so that a drag begun or ended
  // while they were not reported is known when they are again.
  uint32_t raw_bits = bit(XI_RawButtonPress) | bit(XI_RawButtonRelease);
  if (key_hook_ || (mask & KMX_RAW_KEYS)) raw_bits |= bit(XI_RawKeyPress) | bit(XI_RawKeyRelease);
  if (mask & KMX_RAW_DRAG_MOTION) raw_bits |= bit(XI_RawMotion);
  // XTest devices are known whatever the mask: the injection record is
  // matched against their keys.
  const uint32_t hierarchy_bits = bit(XI_HierarchyChanged);

  const DeviceMask masks[2] = {{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, raw_bits},
                               {{XCB_INPUT_DEVICE_ALL, 1}, hierarchy_bits}};
  // Recording starts before the selection, so that every raw button event
  // finds its position.
  if (!positions_) positions_ = std::make_unique<ButtonPositions>();
  RequestBatch batch(display_);
  // Raw events come whatever screen the pointer is on; selecting them on a
  // second root would bring each one twice.
  batch.add(xcb_input_xi_select_events_checked(batch.connection(), DefaultRootWindow(display_), 2, &masks[0].head));
  if (const int code = batch.check(); code != 0)
    return KmxError::backend("XISelectEvents failed: " + error_text(display_, code));
  if (!selected_) {
    refresh_xtest_devices();
    // The button state before the selection: a drag may be under way.
    refresh_pointer_map();
    Window root = 0, child = 0;
    int root_x = 0, root_y = 0, win_x = 0, win_y = 0;
    unsigned state = 0;
    XQueryPointer(display_, DefaultRootWindow(display_), &root, &child, &root_x, &root_y, &win_x, &win_y, &state);
    left_held_ = root != 0 && (state & Button1Mask) != 0;
  }
  mask_ = mask;
  selected_ = true;
  return {};
}

void X11RawInput::refresh_xtest_devices() {
  xtest_devices_.clear();
  int count = 0;
  XIDeviceInfo* devices = XIQueryDevice(display_, XIAllDevices, &count);
  if (!devices) return;
  for (int i = 0; i < count; ++i) {
    // The server names its XTest devices "Virtual core XTEST keyboard/pointer"
    // and "<master> XTEST keyboard/pointer" for further masters.
    if (devices[i].name && std::strstr(devices[i].name, " XTEST ")) xtest_devices_.insert(devices[i].deviceid);
  }
  XIFreeDeviceInfo(devices);
}

uint32_t X11RawInput::source_flags(int sourceid) const {
  return xtest_devices_.count(sourceid) ? KMX_FLAG_SYNTHETIC : 0u;
}

bool X11RawInput::pointer_position(double& x, double& y) const {
  Window root = 0, child = 0;
  int root_x = 0, root_y = 0, win_x = 0, win_y = 0;
  unsigned state = 0;
  // On another screen than the default one the call reports false, yet the
  // position on that screen's root is still given.
  XQueryPointer(display_, DefaultRootWindow(display_), &root, &child, &root_x, &root_y, &win_x, &win_y, &state);
  if (root == 0) return false;
  x = root_x;
  y = root_y;
  return true;
}

void X11RawInput::refresh_pointer_map() {
  unsigned char map[256] = {};
  const int count = XGetPointerMapping(display_, map, sizeof map);
  pointer_map_.assign(map, map + (count > 0 ? count : 0));
}

uint32_t X11RawInput::logical_button(uint32_t physical) const {
  if (physical == 0 || physical > pointer_map_.size()) return physical;
  return pointer_map_[physical - 1];
}

bool X11RawInput::handle(XEvent& event) {
  if (event.type == MappingNotify && event.xmapping.request == MappingPointer) {
    refresh_pointer_map();
    return false;
  }
  if (opcode_ < 0 || event.type != GenericEvent || event.xcookie.extension != opcode_) return false;
  if (!XGetEventData(display_, &event.xcookie)) return true;
  const int type = event.xcookie.evtype;
  const auto* raw = static_cast<const XIRawEvent*>(event.xcookie.data);
  switch (type) {
    case XI_RawKeyPress:
      on_key(*raw, true);
      break;
    case XI_RawKeyRelease:
      on_key(*raw, false);
      break;
    case XI_RawButtonPress:
      on_button(*raw, true);
      break;
    case XI_RawButtonRelease:
      on_button(*raw, false);
      break;
    case XI_RawMotion:
      if ((mask_ & KMX_RAW_DRAG_MOTION) && left_held_) {
        motion_pending_ = true;
        motion_flags_ = source_flags(raw->sourceid);
      }
      break;
    case XI_HierarchyChanged:
      refresh_xtest_devices();
      break;
    default:
      break;
  }
  XFreeEventData(display_, &event.xcookie);
  return true;
}

void X11RawInput::on_key(const XIRawEvent& raw, bool down) {
  const auto keycode = static_cast<uint32_t>(raw.detail);
  uint32_t flags = source_flags(raw.sourceid);
  // The injection record is consumed whatever the mask: an entry left over
  // would take another client's key for ours later.
  if (flags && ledger_->match(keycode, down)) flags |= KMX_FLAG_SELF_INJECTED;
  if (mask_ & KMX_RAW_KEYS) send_key(raw, down, flags);
  if (key_hook_) key_hook_(keycode, down, raw.time);
}

void X11RawInput::send_key(const XIRawEvent& raw, bool down, uint32_t flags) {
  const auto keycode = static_cast<uint32_t>(raw.detail);
  if (down && (raw.flags & XIKeyRepeat)) flags |= KMX_FLAG_AUTOREPEAT;
  const KeySym keysym = XkbKeycodeToKeysym(display_, static_cast<KeyCode>(keycode), 0, 0);
  events_.send(model::key_event(modifier_role_for_keysym(static_cast<uint32_t>(keysym)), keycode, down, flags));
}

void X11RawInput::on_button(const XIRawEvent& raw, bool down) {
  // Raw events carry the device's physical button; applications see it
  // through the pointer mapping (a left-handed mouse swaps 1 and 3).
  const auto physical = static_cast<uint32_t>(raw.detail);
  const auto button = button_for_x(logical_button(physical));
  const bool reported = button && (mask_ & KMX_RAW_BUTTONS);
  // Every raw button event takes its recording, reported or not, so that
  // none is left behind for a later event.
  const std::optional<RootPosition> at = positions_->take(raw.time, physical, down, reported ? RECORDING_WAIT_MS : 0);
  if (!button) return;
  const bool left = *button == KMX_BUTTON_LEFT;
  if (left && down) left_held_ = true;
  // Motion gathered before the release still belongs to the drag.
  if (left && !down) flush_motion();
  if (reported) {
    double x = 0, y = 0;
    if (at) {
      x = at->x;
      y = at->y;
    } else {
      pointer_position(x, y);  // no recording: where the pointer is now
    }
    events_.send(model::button_event(*button, down, x, y, source_flags(raw.sourceid)));
  }
  if (left && !down) left_held_ = false;
}

void X11RawInput::flush_motion() {
  if (!motion_pending_) return;
  motion_pending_ = false;
  double x = 0, y = 0;
  if (pointer_position(x, y)) motion_.store(model::motion_event(x, y, motion_flags_));
}

}  // namespace kmx::platform::x11
