// Every hot-key press the host sees gets exactly one release: when the key
// goes up, or when its registration goes while the key is still down.
#include <utility>
#include <vector>

#include "platform/held_hotkeys.h"
#include "runtime_fixture.h"

namespace kmx::testing {
namespace {

using Edge = std::pair<uint64_t, int>;  // shortcut id, down

std::vector<Edge> drain(KmxHandle h) {
  std::vector<Edge> out;
  KmxEvent e;
  while (kmx_poll_event(h, &e, 0) == KMX_OK) {
    EXPECT_EQ(e.kind, KMX_EVENT_HOTKEY);
    out.emplace_back(e.shortcut_id, e.down);
  }
  return out;
}

// A command round trip: the worker has handled every desktop event posted
// before it.
void settle(KmxHandle h) { ASSERT_EQ(kmx_set_raw_mask(h, 0), KMX_OK); }

class HotkeyRelease : public RuntimeTest {
 protected:
  void apply(std::vector<KmxShortcut> list) {
    ASSERT_EQ(kmx_apply_hotkeys(handle_, list.data(), list.size()), KMX_OK) << last_error(handle_);
  }
};

TEST_F(HotkeyRelease, ADroppedRegistrationReleasesItsHeldKeyAtOnceAndNotAgain) {
  create();
  apply({{1, "Ctrl+A", ""}, {2, "Ctrl+B", ""}});
  ASSERT_TRUE(scripted::trigger_hotkey("ctrl+a", true));
  apply({{2, "Ctrl+B", ""}});
  EXPECT_EQ(drain(handle_), (std::vector<Edge>{{1, 1}, {1, 0}}));
  // The physical release comes later and finds nothing to end.
  ASSERT_TRUE(scripted::trigger_hotkey("ctrl+a", false));
  settle(handle_);
  EXPECT_EQ(drain(handle_), std::vector<Edge>{});
}

TEST_F(HotkeyRelease, AMovedRegistrationReleasesTheOldIdAndPressesOnlyTheNew) {
  create();
  apply({{1, "Ctrl+A", ""}});
  ASSERT_TRUE(scripted::trigger_hotkey("ctrl+a", true));
  apply({{5, "Ctrl+A", ""}});  // the same combination, now another id
  ASSERT_TRUE(scripted::trigger_hotkey("ctrl+a", false));
  ASSERT_TRUE(scripted::trigger_hotkey("ctrl+a", true));
  ASSERT_TRUE(scripted::trigger_hotkey("ctrl+a", false));
  settle(handle_);
  EXPECT_EQ(drain(handle_), (std::vector<Edge>{{1, 1}, {1, 0}, {5, 1}, {5, 0}}));
}

TEST_F(HotkeyRelease, AnUnchangedRegistrationKeepsItsKeyHeldAcrossAnApply) {
  create();
  apply({{1, "Ctrl+A", ""}});
  ASSERT_TRUE(scripted::trigger_hotkey("ctrl+a", true));
  ASSERT_TRUE(scripted::trigger_hotkey("ctrl+a", true));  // auto-repeat
  apply({{1, "Ctrl+A", ""}, {2, "Ctrl+B", ""}});
  EXPECT_EQ(drain(handle_), (std::vector<Edge>{{1, 1}}));
  ASSERT_TRUE(scripted::trigger_hotkey("ctrl+a", false));
  settle(handle_);
  EXPECT_EQ(drain(handle_), (std::vector<Edge>{{1, 0}}));
}

TEST_F(HotkeyRelease, ClearAndStopReleaseHeldKeysBeforeTheQueueCloses) {
  create();
  apply({{1, "Ctrl+A", ""}, {2, "Ctrl+B", ""}, {3, "Ctrl+C", ""}});
  ASSERT_TRUE(scripted::trigger_hotkey("ctrl+a", true));
  apply({});
  EXPECT_EQ(drain(handle_), (std::vector<Edge>{{1, 1}, {1, 0}}));

  apply({{2, "Ctrl+B", ""}, {3, "Ctrl+C", ""}});
  ASSERT_TRUE(scripted::trigger_hotkey("ctrl+c", true));
  ASSERT_TRUE(scripted::trigger_hotkey("ctrl+b", true));
  ASSERT_EQ(kmx_stop(handle_), KMX_OK);
  std::vector<Edge> edges;
  KmxEvent e;
  uint32_t status;
  while ((status = kmx_poll_event(handle_, &e, 0xFFFFFFFF)) == KMX_OK) edges.emplace_back(e.shortcut_id, e.down);
  EXPECT_EQ(status, KMX_ERR_CLOSED);
  EXPECT_EQ(edges, (std::vector<Edge>{{3, 1}, {2, 1}, {2, 0}, {3, 0}}));
}

// The desktop's press and release came before the clear was queued: the
// worker handles them first, so the host gets both, from the key itself.
TEST_F(HotkeyRelease, DesktopEventsBeforeACommandAreHandledBeforeIt) {
  create();
  apply({{9, "Ctrl+Shift+F3", ""}});
  const uint32_t mods[] = {0xE0, 0xE1};
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(kmx_send_chord(handle_, mods, 2, 0x3C), KMX_OK);
    apply({});
    ASSERT_EQ(drain(handle_), (std::vector<Edge>{{9, 1}, {9, 0}})) << "cycle " << i;
    apply({{9, "Ctrl+Shift+F3", ""}});
  }
}

TEST(HeldHotkeys, PairsEveryDeliveredPressWithOneRelease) {
  auto [tx, rx] = queue::channel<KmxEvent>();
  platform::HeldHotkeys<unsigned> held(tx);
  EXPECT_TRUE(held.press(38, 1));
  EXPECT_FALSE(held.press(38, 1));  // repeat
  EXPECT_TRUE(held.press(38, 2));   // moved without an apply in between: 1 ends first
  EXPECT_TRUE(held.press(40, 3));
  EXPECT_FALSE(held.release(41));
  EXPECT_EQ(held.release_unless([](unsigned key, uint64_t) { return key == 40; }), 1u);
  EXPECT_FALSE(held.release(38));
  EXPECT_TRUE(held.is_held(40));
  EXPECT_EQ(held.release_all(), 1u);
  EXPECT_FALSE(held.release(40));

  std::vector<Edge> edges;
  while (auto e = rx.try_recv()) edges.emplace_back(e->shortcut_id, e->down);
  EXPECT_EQ(edges, (std::vector<Edge>{{1, 1}, {1, 0}, {2, 1}, {3, 1}, {2, 0}, {3, 0}}));
}

}  // namespace
}  // namespace kmx::testing
