// Raw keyboard and pointer input through XInput 2 raw events on the root
// window: listen-only, seen whatever window has the focus and whatever
// client holds a grab.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <vector>

#include "platform/backend.h"
#include "platform/x11/injection_ledger.h"
#include "platform/x11/x11_button_positions.h"
#include "platform/x11/x11_display.h"

namespace kmx::platform::x11 {

class X11RawInput {
 public:
  // key_hook sees every key press and release, whatever the mask, after
  // its Key event: hot keys take their holds from this stream, which is in
  // server order, with the server time of each transition.
  using KeyHook = std::function<void(unsigned keycode, bool down, Time time)>;
  X11RawInput(Display* display, EventSender events, MotionChannel motion, std::shared_ptr<InjectionLedger> ledger,
              KeyHook key_hook = {});

  // The XInput major opcode when the server speaks XInput 2.2, else -1.
  static int xinput2_opcode(Display* display);

  bool available() const noexcept { return opcode_ >= 0; }

  // Selects the raw events the mask asks for. Fails with Backend when the
  // mask needs XInput 2 and the server lacks it; the mask in force then
  // stays as it was.
  Result<void> sync(uint32_t mask);

  // True when the event was one of ours (it has been handled). A pointer
  // MappingNotify is taken too (and reported false, as it is everyone's).
  bool handle(XEvent& event);

  // Emits the drag motion gathered while handling a batch of events.
  void flush_motion();

 private:
  void refresh_xtest_devices();
  void on_key(const XIRawEvent& raw, bool down);
  void send_key(const XIRawEvent& raw, bool down, uint32_t flags);
  void on_button(const XIRawEvent& raw, bool down);
  uint32_t source_flags(int sourceid) const;
  bool pointer_position(double& x, double& y) const;
  void refresh_pointer_map();
  // The logical button applications see for a device's physical button.
  uint32_t logical_button(uint32_t physical) const;

  Display* display_;
  EventSender events_;
  MotionChannel motion_;
  std::shared_ptr<InjectionLedger> ledger_;
  KeyHook key_hook_;
  int opcode_ = -1;
  uint32_t mask_ = 0;
  bool selected_ = false;
  bool left_held_ = false;
  bool motion_pending_ = false;
  uint32_t motion_flags_ = 0;
  std::set<int> xtest_devices_;
  std::vector<unsigned char> pointer_map_;      // physical button - 1 -> logical button
  std::unique_ptr<ButtonPositions> positions_;  // with XInput 2 only
};

}  // namespace kmx::platform::x11
