// What the host can count on when registrations go away under a held hot
// key, when the worker ends without being stopped, and under a tight loop of
// applies, chords and clears.
#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <thread>

#include "e2e_support.h"
#include "press_release_check.h"
#include "resident_memory.h"

namespace kmx::testing {
namespace {

constexpr uint32_t SHIFT = 0x0200, CONTROL = 0x1000;
constexpr uint16_t F3 = 0x63;
constexpr uint32_t USAGE_F3 = 0x3C, LEFT_CTRL = 0xE0, LEFT_SHIFT = 0xE1;

using HostSafety = MacRuntimeTest;

struct Edge {
  uint64_t id;
  uint8_t down;
  bool operator==(const Edge&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Edge& e) { return os << "{" << e.id << ", " << +e.down << "}"; }

std::vector<Edge> edges(const std::vector<KmxEvent>& events) {
  std::vector<Edge> out;
  for (const KmxEvent& e : events)
    if (e.kind == KMX_EVENT_HOTKEY) out.push_back({e.shortcut_id, e.down});
  return out;
}

// Events already queued, without running the event loop.
std::vector<Edge> queued_now(KmxHandle h) {
  std::vector<KmxEvent> events;
  KmxEvent e{};
  while (kmx_poll_event(h, &e, 0) == KMX_OK) events.push_back(e);
  return edges(events);
}

KmxStatus apply_one(KmxHandle h, uint64_t id) {
  const KmxShortcut item{id, "Ctrl+Shift+F3", ""};
  return kmx_apply_hotkeys(h, &item, 1);
}

// The release arrives when the registration goes away, with the press's id,
// and the key's own release later is no event any more.
TEST_F(HostSafety, HeldHotkeyIsReleasedWhenItsRegistrationGoesAway) {
  enum class Away { Clear, Dropped, Moved };
  KmxHandle h = create();
  for (Away away : {Away::Clear, Away::Dropped, Away::Moved}) {
    SCOPED_TRACE(static_cast<int>(away));
    ASSERT_EQ(apply_one(h, 7), KMX_OK) << last_error(h);
    ASSERT_EQ(kmxsim_hotkey_press(F3, CONTROL | SHIFT), KMXSIM_HOTKEY_THIS_PROCESS);
    ASSERT_EQ(edges(drain()), (std::vector<Edge>{{7, 1}}));

    const KmxShortcut other{9, "Ctrl+Alt+F4", ""};
    switch (away) {
      case Away::Clear:
        ASSERT_EQ(kmx_apply_hotkeys(h, nullptr, 0), KMX_OK);
        break;
      case Away::Dropped:
        ASSERT_EQ(kmx_apply_hotkeys(h, &other, 1), KMX_OK);
        break;
      case Away::Moved:
        ASSERT_EQ(apply_one(h, 8), KMX_OK);
        break;
    }
    EXPECT_EQ(queued_now(h), (std::vector<Edge>{{7, 0}})) << "queued before the apply returned";

    kmxsim_hotkey_release(F3, CONTROL | SHIFT);
    EXPECT_TRUE(drain().empty());
    ASSERT_EQ(kmx_apply_hotkeys(h, nullptr, 0), KMX_OK);
  }
}

// The key went up before the clear, but the main thread had not dispatched
// the release yet: one release all the same, never two.
TEST_F(HostSafety, ReleaseStillQueuedForTheMainThreadIsNotDeliveredTwice) {
  KmxHandle h = create();
  ASSERT_EQ(apply_one(h, 7), KMX_OK);
  kmxsim_hotkey_press(F3, CONTROL | SHIFT);
  ASSERT_EQ(edges(drain()), (std::vector<Edge>{{7, 1}}));
  kmxsim_hotkey_release(F3, CONTROL | SHIFT);
  ASSERT_EQ(kmxsim_pending_hotkey_events(), 1u);
  ASSERT_EQ(kmx_apply_hotkeys(h, nullptr, 0), KMX_OK);
  EXPECT_EQ(edges(drain()), (std::vector<Edge>{{7, 0}}));
}

TEST_F(HostSafety, StopReleasesAHeldHotkeyBeforeTheQueueCloses) {
  KmxHandle h = create();
  ASSERT_EQ(apply_one(h, 5), KMX_OK);
  kmxsim_hotkey_press(F3, CONTROL | SHIFT);
  ASSERT_EQ(edges(drain()), (std::vector<Edge>{{5, 1}}));
  ASSERT_EQ(kmx_stop(h), KMX_OK);
  EXPECT_EQ(queued_now(h), (std::vector<Edge>{{5, 0}}));
  KmxEvent e{};
  EXPECT_EQ(kmx_poll_event(h, &e, 0), KMX_ERR_CLOSED);
}

// Something else stops the worker's run loop: the worker ends without Stop.
// Every function then answers as documented, and nothing raises SIGPIPE.
TEST_F(HostSafety, WorkerEndingWithoutStopLeavesEveryFunctionAnswering) {
  struct sigaction pipe_action {};
  ASSERT_EQ(::sigaction(SIGPIPE, nullptr, &pipe_action), 0);
  ASSERT_EQ(pipe_action.sa_handler, SIG_DFL) << "the test needs SIGPIPE at its default disposition";

  KmxHandle h = create(KMX_RAW_KEYS | KMX_RAW_BUTTONS);
  ASSERT_EQ(apply_one(h, 3), KMX_OK);
  kmxsim_hotkey_press(F3, CONTROL | SHIFT);
  ASSERT_EQ(edges(drain()), (std::vector<Edge>{{3, 1}}));

  ASSERT_EQ(kmxsim_stop_run_loops(), 1);
  std::vector<KmxEvent> tail;
  KmxEvent e{};
  KmxStatus polled;
  while ((polled = kmx_poll_event(h, &e, 10000)) == KMX_OK) tail.push_back(e);
  EXPECT_EQ(polled, KMX_ERR_CLOSED);
  EXPECT_EQ(edges(tail), (std::vector<Edge>{{3, 0}})) << "the teardown released the held hot key";
  ASSERT_TRUE(eventually([] { return !thread_named("keymux-macos"); }));
  EXPECT_EQ(counts().taps, before_.taps);
  EXPECT_EQ(counts().hotkeys, before_.hotkeys);

  EXPECT_EQ(kmx_abi_version(), KMX_ABI_VERSION);
  KmxHandle second = nullptr;
  KmxCreateOptions options{KMX_ABI_VERSION, 0};
  EXPECT_EQ(kmx_create(&options, &second), KMX_ERR_BACKEND) << "the handle still holds the runtime slot";
  EXPECT_EQ(second, nullptr);
  char text[128];
  EXPECT_GT(kmx_last_init_error(text, sizeof text), 1u);
  EXPECT_EQ(kmx_backend(h, text, sizeof text), sizeof "macos-carbon-coregraphics");
  EXPECT_EQ(kmx_capabilities(h), 0xEFu);
  EXPECT_EQ(kmx_poll_event(h, &e, 0), KMX_ERR_CLOSED);
  EXPECT_EQ(kmx_set_raw_mask(h, KMX_RAW_BUTTONS), KMX_ERR_CLOSED);
  EXPECT_EQ(apply_one(h, 4), KMX_ERR_CLOSED);
  EXPECT_GT(kmx_last_error(h, text, sizeof text), 1u);
  EXPECT_EQ(kmx_apply_leftovers(h, text, sizeof text), 1u);
  // Chords and key state never needed the worker.
  const uint32_t mods[] = {LEFT_CTRL};
  EXPECT_EQ(kmx_send_chord(h, mods, 1, 0x04), KMX_OK) << last_error(h);
  EXPECT_EQ(kmx_is_key_down(h, 0x04), 0);
  uint8_t down = 9;
  EXPECT_EQ(kmx_is_key_down_many(h, mods, 1, &down), KMX_OK);
  EXPECT_EQ(down, 0);
  EXPECT_EQ(kmx_stop(h), KMX_OK);
  EXPECT_EQ(kmx_stop(h), KMX_OK);
  EXPECT_EQ(kmx_poll_event(h, &e, 0xFFFFFFFFu), KMX_ERR_CLOSED);
  kmx_destroy(h);
  handle_ = nullptr;
}

uint32_t soak_seconds() {
  const char* text = std::getenv("KMX_SOAK_SECONDS");
  const long value = text ? std::strtol(text, nullptr, 10) : 0;
  return value > 0 ? static_cast<uint32_t>(value) : 3;
}

// A host thread applies, types and clears as fast as it can while the main
// thread runs its event loop and polls, as an AppKit host's would. What the
// library holds stays flat meanwhile.
TEST_F(HostSafety, TightApplyChordClearLoopDeliversEveryPressWithItsRelease) {
  KmxHandle h = create();
  const auto start = std::chrono::steady_clock::now();
  const auto end = start + std::chrono::seconds(soak_seconds());
  const auto warm = start + std::chrono::seconds(soak_seconds()) / 10;
  std::atomic<bool> done{false};
  std::atomic<uint64_t> cycles{0};
  std::atomic<uint64_t> highest_seen{0};
  size_t memory_warm = 0, memory_end = 0;
  uint64_t cycles_warm = 0;

  std::thread host([&] {
    const uint32_t mods[] = {LEFT_CTRL, LEFT_SHIFT};
    for (uint64_t id = 1; std::chrono::steady_clock::now() < end; ++id) {
      ASSERT_EQ(apply_one(h, id), KMX_OK) << last_error(h);
      ASSERT_EQ(kmx_send_chord(h, mods, 2, USAGE_F3), KMX_OK) << last_error(h);
      if (id % 8 == 0) {
        // Now and then the press lands before the clear, so that both roads are taken.
        for (int i = 0; i < 1000 && highest_seen.load() < id; ++i)
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      ASSERT_EQ(kmx_apply_hotkeys(h, nullptr, 0), KMX_OK) << last_error(h);
      cycles = id;
      if (cycles_warm == 0 && std::chrono::steady_clock::now() >= warm) {
        cycles_warm = id;
        memory_warm = held_memory_bytes();
      }
    }
    memory_end = held_memory_bytes();
    done = true;
  });
  // A chord still on its way may land on the next cycle's registration, so
  // one id can see several presses: each followed by its release.
  PressReleaseCheck check;
  auto take = [&] {
    KmxEvent e{};
    while (kmx_poll_event(h, &e, 0) == KMX_OK) {
      ASSERT_EQ(e.kind, KMX_EVENT_HOTKEY);
      if (e.shortcut_id > highest_seen.load()) highest_seen = e.shortcut_id;
      check.take(e);
    }
  };
  while (!done) {
    RunCurrentEventLoop(0.002);
    take();
    kmxsim_clear_posted_events();  // the simulator's own log of them would grow
  }
  host.join();
  drain();  // the last posts and Carbon events, all for registrations now gone
  take();

  check.expect_all_released();
  EXPECT_GT(check.presses(), 0u) << cycles.load() << " cycles";
  ASSERT_NE(cycles_warm, 0u);
  EXPECT_LE(memory_end, memory_warm + allowed_growth(cycles - cycles_warm))
      << "from " << memory_warm << " to " << memory_end << " bytes over " << cycles - cycles_warm << " cycles";
  std::printf("[soak] %llu cycles, %zu presses each with its release; memory %zu -> %zu bytes\n",
              static_cast<unsigned long long>(cycles.load()), check.presses(), memory_warm, memory_end);
}

}  // namespace
}  // namespace kmx::testing
