// Creating, running and stopping the macOS backend through the C functions.
#include "e2e_support.h"

namespace kmx::testing {
namespace {

constexpr const char* TAP_TEXT =
    "backend error: CoreGraphics event tap could not be created. Grant Accessibility/Input Monitoring permission "
    "for raw input features";

using Lifecycle = MacRuntimeTest;

TEST_F(Lifecycle, MaskZeroNeedsNoPermissionAndReportsUntrustedCapabilities) {
  kmxsim_set_accessibility_trusted(false);
  kmxsim_set_input_monitoring(false);
  KmxHandle h = create(0);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(kmx_capabilities(h), 0x2Fu);
  char name[64];
  EXPECT_EQ(kmx_backend(h, name, sizeof name), sizeof "macos-carbon-coregraphics");
  EXPECT_STREQ(name, "macos-carbon-coregraphics");
  EXPECT_EQ(counts().taps, before_.taps);
  EXPECT_TRUE(thread_named("keymux-macos"));
}

TEST_F(Lifecycle, TrustedProcessReportsEveryCapability) {
  KmxHandle h = create(KMX_RAW_KEYS | KMX_RAW_BUTTONS | KMX_RAW_DRAG_MOTION);
  EXPECT_EQ(kmx_capabilities(h), 0xEFu);
  EXPECT_EQ(counts().taps, before_.taps + 2);
}

TEST_F(Lifecycle, RawKeysWithoutPermissionFailsAndLeavesNothingBehind) {
  kmxsim_set_accessibility_trusted(false);
  kmxsim_set_input_monitoring(false);
  KmxCreateOptions options{KMX_ABI_VERSION, KMX_RAW_KEYS};
  KmxHandle h = reinterpret_cast<KmxHandle>(&options);
  EXPECT_EQ(kmx_create(&options, &h), KMX_ERR_BACKEND);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(last_init_error(), TAP_TEXT);

  // The worker has ended and released its descriptor by the time create returns.
  EXPECT_FALSE(thread_named("keymux-macos"));
  const kmxsim_counts now = counts();
  EXPECT_EQ(now.taps, before_.taps);
  EXPECT_EQ(now.file_descriptors, before_.file_descriptors);
  EXPECT_EQ(now.open_fds, before_.open_fds);

  // The single-runtime slot was given back.
  kmxsim_set_input_monitoring(true);
  create(KMX_RAW_KEYS);
}

TEST_F(Lifecycle, RefusedMaskChangeKeepsThePreviousMaskInForce) {
  KmxHandle h = create(KMX_RAW_BUTTONS);
  kmxsim_set_accessibility_trusted(false);
  kmxsim_set_input_monitoring(false);
  EXPECT_EQ(kmx_set_raw_mask(h, KMX_RAW_KEYS | KMX_RAW_BUTTONS), KMX_ERR_BACKEND);
  EXPECT_EQ(last_error(h), TAP_TEXT);

  kmxsim_key_type(0x00);
  kmxsim_mouse_button(1, true);
  kmxsim_mouse_button(1, false);
  const auto events = drain();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, KMX_EVENT_BUTTON);
  EXPECT_EQ(events[1].kind, KMX_EVENT_BUTTON);
}

TEST_F(Lifecycle, StopReleasesTapsAndHotkeysAndClosesTheEventSource) {
  KmxHandle h = create(KMX_RAW_KEYS | KMX_RAW_DRAG_MOTION);
  const KmxShortcut items[] = {{1, "Cmd+Shift+F5", ""}, {2, "Ctrl+F6", ""}};
  ASSERT_EQ(kmx_apply_hotkeys(h, items, 2), KMX_OK) << last_error(h);
  EXPECT_EQ(counts().hotkeys, before_.hotkeys + 2);
  kmxsim_key_type(0x01);
  ASSERT_TRUE(kmxsim_flush(5000));

  EXPECT_EQ(kmx_stop(h), KMX_OK);
  const kmxsim_counts now = counts();
  EXPECT_EQ(now.taps, before_.taps);
  EXPECT_EQ(now.hotkeys, before_.hotkeys);
  EXPECT_EQ(now.valid_file_descriptors, before_.valid_file_descriptors);

  // Events queued before the stop are still handed out, then the source is closed.
  KmxEvent e{};
  EXPECT_EQ(kmx_poll_event(h, &e, 1000), KMX_OK);
  EXPECT_EQ(kmx_poll_event(h, &e, 1000), KMX_OK);
  EXPECT_EQ(kmx_poll_event(h, &e, 1000), KMX_ERR_CLOSED);
}

TEST_F(Lifecycle, TapDisabledBySystemIsReEnabledOnTheNextWake) {
  for (uint32_t reason :
       {static_cast<uint32_t>(kCGEventTapDisabledByTimeout), static_cast<uint32_t>(kCGEventTapDisabledByUserInput)}) {
    if (handle_ == nullptr) create(KMX_RAW_KEYS | KMX_RAW_BUTTONS);
    ASSERT_EQ(kmxsim_disable_taps(reason), 2);
    // The tap callback itself wakes the worker; no command is needed.
    ASSERT_TRUE(eventually([&] { return counts().enabled_taps == before_.enabled_taps + 2; }));
    kmxsim_key_type(0x00);
    kmxsim_mouse_button(0, true);
    kmxsim_mouse_button(0, false);
    EXPECT_EQ(drain().size(), 4u);
  }
}

}  // namespace
}  // namespace kmx::testing
