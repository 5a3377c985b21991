// A runtime whose X server dies under it: the host process lives on (with
// SIGPIPE at its default disposition), the event queue closes and every
// function of the C interface returns its documented status. The test
// starts and kills an Xvfb server of its own.
#include <gtest/gtest.h>
#include <keymux/keymux.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include "own_xvfb.h"

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t KEY_A = 0x04, LEFT_CONTROL = 0xE0;

std::string last_error(KmxHandle h) {
  char buffer[512] = {};
  kmx_last_error(h, buffer, sizeof buffer);
  return buffer;
}

TEST(X11LostDisplay, KilledServerClosesTheQueueAndEveryFunctionReportsIt) {
  signal(SIGPIPE, SIG_DFL);
  kmx::testing::OwnXvfb server;
  ASSERT_FALSE(server.name().empty()) << "Xvfb did not start";
  setenv("DISPLAY", server.name().c_str(), 1);

  KmxCreateOptions options{KMX_ABI_VERSION, KMX_RAW_KEYS};
  KmxHandle h = nullptr;
  ASSERT_EQ(kmx_create(&options, &h), KMX_OK);
  KmxShortcut s{77, "Ctrl+F3", ""};
  ASSERT_EQ(kmx_apply_hotkeys(h, &s, 1), KMX_OK) << last_error(h);

  // Another client holds the hot key down when the server goes.
  Display* other = XOpenDisplay(nullptr);
  ASSERT_NE(other, nullptr);
  XSetIOErrorExitHandler(
      other, [](Display*, void*) {}, nullptr);  // the test's own connection dies too
  XTestFakeKeyEvent(other, XKeysymToKeycode(other, XK_Control_L), True, CurrentTime);
  XTestFakeKeyEvent(other, XKeysymToKeycode(other, XK_F3), True, CurrentTime);
  XSync(other, False);

  std::vector<KmxEvent> hotkeys;
  KmxStatus end = KMX_OK;
  std::thread poller([&] {
    KmxEvent e{};
    while ((end = kmx_poll_event(h, &e, 0xFFFFFFFFu)) == KMX_OK) {
      if (e.kind == KMX_EVENT_HOTKEY) {
        hotkeys.push_back(e);
        if (e.down) server.kill_now();
      }
    }
  });
  poller.join();
  EXPECT_EQ(end, KMX_ERR_CLOSED);
  ASSERT_EQ(hotkeys.size(), 2u) << "the held hot key is released when its registration goes";
  EXPECT_EQ(hotkeys[0].down, 1);
  EXPECT_EQ(hotkeys[1].down, 0);
  EXPECT_EQ(hotkeys[1].shortcut_id, 77u);

  const std::string lost = "backend error: lost the connection to X11 display \"" + server.name() + "\"";
  KmxEvent e{};
  EXPECT_EQ(kmx_poll_event(h, &e, 0), KMX_ERR_CLOSED);
  EXPECT_EQ(kmx_set_raw_mask(h, 0), KMX_ERR_CLOSED);
  EXPECT_EQ(kmx_apply_hotkeys(h, &s, 1), KMX_ERR_CLOSED);
  EXPECT_EQ(kmx_apply_hotkeys(h, nullptr, 0), KMX_ERR_CLOSED);
  const uint32_t control = LEFT_CONTROL;
  // The direct connection finds its server gone on one host thread and is
  // used on another afterwards.
  std::thread([&] {
    EXPECT_EQ(kmx_send_chord(h, &control, 1, KEY_A), KMX_ERR_BACKEND);
    EXPECT_EQ(last_error(h), lost);
  }).join();
  EXPECT_EQ(kmx_is_key_down(h, KEY_A), -static_cast<int32_t>(KMX_ERR_BACKEND));
  uint8_t down = 9;
  const uint32_t usage = KEY_A;
  EXPECT_EQ(kmx_is_key_down_many(h, &usage, 1, &down), KMX_ERR_BACKEND);
  EXPECT_EQ(last_error(h), lost);
  EXPECT_EQ(kmx_apply_leftovers(h, nullptr, 0), 1u);
  char name[16] = {};
  EXPECT_EQ(kmx_backend(h, name, sizeof name), 4u);
  EXPECT_EQ(kmx_capabilities(h), 0xEFu);
  EXPECT_EQ(kmx_abi_version(), KMX_ABI_VERSION);
  EXPECT_EQ(kmx_stop(h), KMX_OK);
  EXPECT_EQ(kmx_stop(h), KMX_OK);
  EXPECT_EQ(kmx_send_chord(h, &control, 1, KEY_A), KMX_ERR_CLOSED);
  kmx_destroy(h);
  // The test's own connection to the dead server is left alone: Xlib's
  // default handler would end the test on its next use.
  (void)other;

  // The process carries on and the runtime slot is free again.
  h = nullptr;
  EXPECT_EQ(kmx_create(&options, &h), KMX_ERR_BACKEND);
  char init[256] = {};
  kmx_last_init_error(init, sizeof init);
  EXPECT_EQ(std::string(init), "backend error: cannot open X11 display \"" + server.name() + "\"");
}

}  // namespace
