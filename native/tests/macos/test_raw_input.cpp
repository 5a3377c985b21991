// Raw key, button and drag-motion events from the event taps.
#include <unistd.h>

#include "e2e_support.h"

namespace kmx::testing {
namespace {

using RawInput = MacRuntimeTest;

struct KeySeen {
  uint32_t code, modifier, down, flags;
  bool operator==(const KeySeen&) const = default;
};

std::ostream& operator<<(std::ostream& os, const KeySeen& k) {
  return os << "{code " << k.code << ", mod " << k.modifier << ", down " << k.down << ", flags " << k.flags << "}";
}

std::vector<KeySeen> keys(const std::vector<KmxEvent>& events) {
  std::vector<KeySeen> out;
  for (const KmxEvent& e : events) {
    EXPECT_EQ(e.kind, KMX_EVENT_KEY);
    EXPECT_EQ(e.x, 0.0);
    EXPECT_EQ(e.reserved, 0);
    out.push_back({e.native_code, e.modifier, e.down, e.flags});
  }
  return out;
}

TEST_F(RawInput, KeysCarryTheirOriginInFlags) {
  KmxHandle h = create(KMX_RAW_KEYS);
  kmxsim_key_type(0x00);
  kmxsim_key_repeat(0x00);
  kmxsim_key_release(0x00);
  kmxsim_post_key_from_process(4242, 0x0B, true, 0, 0);
  kmxsim_post_key_from_process(4242, 0x0B, false, 0, 0);
  ASSERT_EQ(kmx_send_chord(h, nullptr, 0, 0x06 /* KeyC */), KMX_OK) << last_error(h);

  EXPECT_EQ(keys(drain()), (std::vector<KeySeen>{{0x00, 0, 1, 0},
                                                 {0x00, 0, 0, 0},
                                                 {0x00, 0, 1, KMX_FLAG_AUTOREPEAT},
                                                 {0x00, 0, 0, 0},
                                                 {0x0B, 0, 1, KMX_FLAG_SYNTHETIC},
                                                 {0x0B, 0, 0, KMX_FLAG_SYNTHETIC},
                                                 {0x08, 0, 1, KMX_FLAG_SYNTHETIC | KMX_FLAG_SELF_INJECTED},
                                                 {0x08, 0, 0, KMX_FLAG_SYNTHETIC | KMX_FLAG_SELF_INJECTED}}));
}

TEST_F(RawInput, MarkerFromAnotherProcessCountsAsSelfInjected) {
  create(KMX_RAW_KEYS);
  kmxsim_post_key_from_process(4242, 0x0B, true, 0, static_cast<int64_t>(KMX_INJECTION_MARKER));
  kmxsim_post_key_from_process(4242, 0x0B, false, 0, static_cast<int64_t>(KMX_INJECTION_MARKER + 1));
  EXPECT_EQ(keys(drain()), (std::vector<KeySeen>{{0x0B, 0, 1, KMX_FLAG_SYNTHETIC | KMX_FLAG_SELF_INJECTED},
                                                 {0x0B, 0, 0, KMX_FLAG_SYNTHETIC}}));
}

TEST_F(RawInput, ModifierStateComesFromTheAggregateFlags) {
  create(KMX_RAW_KEYS);
  kmxsim_key_press(56);    // left shift
  kmxsim_key_press(60);    // right shift
  kmxsim_key_release(56);  // shift still held on the right
  kmxsim_key_release(60);
  kmxsim_key_type(57);  // caps lock: silent
  kmxsim_key_type(55);
  kmxsim_key_type(61);
  kmxsim_key_type(62);
  kmxsim_key_type(63);  // fn: not a reported modifier
  EXPECT_EQ(keys(drain()), (std::vector<KeySeen>{{56, KMX_MOD_SHIFT, 1, 0},
                                                 {60, KMX_MOD_SHIFT, 1, 0},
                                                 {56, KMX_MOD_SHIFT, 1, 0},
                                                 {60, KMX_MOD_SHIFT, 0, 0},
                                                 {55, KMX_MOD_META, 1, 0},
                                                 {55, KMX_MOD_META, 0, 0},
                                                 {61, KMX_MOD_ALT, 1, 0},
                                                 {61, KMX_MOD_ALT, 0, 0},
                                                 {62, KMX_MOD_CONTROL, 1, 0},
                                                 {62, KMX_MOD_CONTROL, 0, 0}}));
}

TEST_F(RawInput, ModifierRoleIsReportedForPostedFlagChanges) {
  create(KMX_RAW_KEYS);
  kmxsim_post_key_from_process(4242, 59, true, kCGEventFlagMaskControl, 0);
  kmxsim_post_key_from_process(4242, 59, false, 0, 0);
  EXPECT_EQ(keys(drain()), (std::vector<KeySeen>{{59, KMX_MOD_CONTROL, 1, KMX_FLAG_SYNTHETIC},
                                                 {59, KMX_MOD_CONTROL, 0, KMX_FLAG_SYNTHETIC}}));
}

TEST_F(RawInput, ButtonsAreNumberedLeftRightMiddleOther) {
  create(KMX_RAW_BUTTONS);
  kmxsim_mouse_move(12.5, -40.0);
  for (uint32_t button : {0u, 1u, 2u, 3u, 7u}) {
    kmxsim_mouse_button(button, true);
    kmxsim_mouse_button(button, false);
  }
  const auto events = drain();
  ASSERT_EQ(events.size(), 10u);
  const uint8_t expected[] = {1, 2, 3, 255, 255};
  for (size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(events[i].kind, KMX_EVENT_BUTTON);
    EXPECT_EQ(events[i].button, expected[i / 2]);
    EXPECT_EQ(events[i].down, i % 2 == 0 ? 1 : 0);
    EXPECT_EQ(events[i].x, 12.5);
    EXPECT_EQ(events[i].y, -40.0);
    EXPECT_EQ(events[i].flags, 0u);
  }
}

TEST_F(RawInput, KeysAndButtonsFollowTheirOwnMaskBits) {
  KmxHandle h = create(KMX_RAW_DRAG_MOTION);
  kmxsim_key_type(0x00);
  kmxsim_mouse_button(1, true);
  kmxsim_mouse_button(1, false);
  EXPECT_TRUE(drain().empty());
  ASSERT_EQ(kmx_set_raw_mask(h, KMX_RAW_KEYS), KMX_OK);
  kmxsim_mouse_button(1, true);
  kmxsim_mouse_button(1, false);
  kmxsim_key_type(0x00);
  EXPECT_EQ(drain().size(), 2u);
}

TEST_F(RawInput, DragMotionOnlyBetweenLeftPressAndReleaseAndCoalesced) {
  create(KMX_RAW_DRAG_MOTION);
  kmxsim_mouse_move(1, 1);
  kmxsim_mouse_button(1, true);  // right-button drags are no drags
  kmxsim_mouse_move(2, 2);
  kmxsim_mouse_button(1, false);
  EXPECT_TRUE(drain().empty());

  kmxsim_mouse_button(0, true);
  kmxsim_mouse_move(3, 3);
  kmxsim_mouse_move(4, 4);
  kmxsim_mouse_move(5, 6);
  auto events = drain();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, KMX_EVENT_MOTION);
  EXPECT_EQ(events[0].x, 5.0);
  EXPECT_EQ(events[0].y, 6.0);
  EXPECT_EQ(events[0].button, 0);

  kmxsim_mouse_button(0, false);
  kmxsim_mouse_move(7, 7);
  EXPECT_TRUE(drain().empty());
}

TEST_F(RawInput, LeftHeldSurvivesMaskChangesWithoutTapRecreation) {
  KmxHandle h = create(KMX_RAW_BUTTONS);
  const int taps = counts().taps;
  kmxsim_mouse_button(0, true);
  ASSERT_EQ(drain().size(), 1u);
  // Adding drag motion mid-drag reports motion at once; the tap stays.
  ASSERT_EQ(kmx_set_raw_mask(h, KMX_RAW_BUTTONS | KMX_RAW_DRAG_MOTION), KMX_OK);
  EXPECT_EQ(counts().taps, taps);
  kmxsim_mouse_move(9, 9);
  auto events = drain();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, KMX_EVENT_MOTION);
  kmxsim_mouse_button(0, false);
  drain();
}

TEST_F(RawInput, LeftHeldCellOutlivesARemovedPointerTap) {
  KmxHandle h = create(KMX_RAW_DRAG_MOTION);
  kmxsim_mouse_button(0, true);
  ASSERT_TRUE(kmxsim_flush(5000));  // seen before the tap goes
  ASSERT_EQ(kmx_set_raw_mask(h, 0), KMX_OK);
  kmxsim_mouse_button(0, false);  // unseen: no pointer tap
  ASSERT_EQ(kmx_set_raw_mask(h, KMX_RAW_DRAG_MOTION), KMX_OK);

  kmxsim_mouse_move(20, 30);  // a plain move, but the cell still says held
  auto events = drain();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, KMX_EVENT_MOTION);

  kmxsim_mouse_button(0, true);
  kmxsim_mouse_button(0, false);
  kmxsim_mouse_move(21, 31);
  EXPECT_TRUE(drain().empty());
}

TEST_F(RawInput, LeftPressBeforeThePointerTapExistedIsNotSeen) {
  KmxHandle h = create(0);
  kmxsim_mouse_button(0, true);
  ASSERT_EQ(kmx_set_raw_mask(h, KMX_RAW_DRAG_MOTION), KMX_OK);
  kmxsim_mouse_move(5, 5);
  EXPECT_TRUE(drain().empty());
  kmxsim_mouse_button(0, false);
  drain();
}

}  // namespace
}  // namespace kmx::testing
