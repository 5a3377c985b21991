// The host survives whatever the worker does: a worker that ends on its own,
// commands racing kmx_stop, and long runs of apply, chord and clear.
#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <thread>
#include <vector>

#include "resident_memory.h"
#include "runtime_fixture.h"

namespace kmx::testing {
namespace {

class WorkerEnd : public RuntimeTest, public ::testing::WithParamInterface<scripted::WorkerEnd> {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    // A write to the dead worker's socket must not end the process.
    ::signal(SIGPIPE, SIG_DFL);
  }
};

// After the worker ended without Stop, every one of the fifteen functions
// gives its documented status, and nothing waits for a time-out.
TEST_P(WorkerEnd, EveryFunctionGivesItsStatusAfterTheWorkerEnded) {
  runtime::Timeouts never;
  never.raw_mask = never.apply = never.stop_ack = std::chrono::hours(1);
  create_with(never);
  const KmxShortcut one[] = {{4, "Ctrl+A", ""}};
  ASSERT_EQ(kmx_apply_hotkeys(handle_, one, 1), KMX_OK);
  ASSERT_TRUE(scripted::trigger_hotkey("ctrl+a", true));
  scripted::end_worker(GetParam());

  EXPECT_EQ(kmx_abi_version(), 0x10000u);
  KmxHandle second = nullptr;
  EXPECT_EQ(kmx_create(nullptr, &second), KMX_ERR_BACKEND);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(last_init_error(), "backend error: only one keymux runtime may be active in a process");

  EXPECT_EQ(kmx_set_raw_mask(handle_, 0x1), KMX_ERR_CLOSED);
  EXPECT_EQ(last_error(handle_), "runtime is closed");
  EXPECT_EQ(kmx_apply_hotkeys(handle_, one, 1), KMX_ERR_CLOSED);
  EXPECT_EQ(kmx_apply_leftovers(handle_, nullptr, 0), 1u);
  // Chords and key state go to the desktop, not to the worker.
  const uint32_t mods[] = {0xE0};
  EXPECT_EQ(kmx_send_chord(handle_, mods, 1, 0x04), KMX_OK);
  const uint32_t usages[] = {0x04, 0xE0};
  uint8_t down[2] = {9, 9};
  EXPECT_EQ(kmx_is_key_down_many(handle_, usages, 2, down), KMX_OK);
  EXPECT_EQ(down[0], 0);
  EXPECT_EQ(kmx_is_key_down(handle_, 0x04), 0);

  // The held hot key was released as the worker went; then the queue closes.
  KmxEvent e;
  ASSERT_EQ(kmx_poll_event(handle_, &e, 0xFFFFFFFF), KMX_OK);
  EXPECT_EQ(e.down, 1);
  ASSERT_EQ(kmx_poll_event(handle_, &e, 0xFFFFFFFF), KMX_OK);
  EXPECT_EQ(e.shortcut_id, 4u);
  EXPECT_EQ(e.down, 0);
  EXPECT_EQ(kmx_poll_event(handle_, &e, 0xFFFFFFFF), KMX_ERR_CLOSED);

  char name[16];
  EXPECT_EQ(kmx_backend(handle_, name, sizeof name), 9u);
  EXPECT_EQ(kmx_capabilities(handle_), 0xEFu);
  // Stop wakes a worker that is gone (no SIGPIPE) and reports how it ended.
  const bool faulted = GetParam() == scripted::WorkerEnd::ByFault;
  EXPECT_EQ(kmx_stop(handle_), faulted ? KMX_ERR_BACKEND : KMX_OK);
  EXPECT_EQ(last_error(handle_), faulted ? "native backend thread panicked during shutdown" : "runtime is closed");
  EXPECT_EQ(kmx_stop(handle_), KMX_OK);
  EXPECT_EQ(kmx_set_raw_mask(handle_, 0x1), KMX_ERR_CLOSED);
  kmx_destroy(handle_);
  handle_ = nullptr;
  EXPECT_FALSE(runtime::instance_active());
}

INSTANTIATE_TEST_SUITE_P(Scripted, WorkerEnd,
                         ::testing::Values(scripted::WorkerEnd::Quietly, scripted::WorkerEnd::ByFault),
                         [](const auto& info) {
                           return info.param == scripted::WorkerEnd::Quietly ? std::string("Quietly")
                                                                             : std::string("ByFault");
                         });

using StopRace = RuntimeTest;

// Several threads send commands while two others stop the runtime. With
// one-second time-outs, a command stranded in a queue nobody reads would
// come back as 3; every call must end with 0 or 4.
TEST_F(StopRace, CommandsRacingStopGetAnAnswerOrClosed) {
  runtime::Timeouts short_waits;
  short_waits.raw_mask = short_waits.apply = short_waits.stop_ack = std::chrono::seconds(1);
  for (int round = 0; round < 60; ++round) {
    create_with(short_waits);
    std::atomic<int> started{0};
    std::vector<std::thread> callers;
    std::atomic<int> bad_status{-1};
    for (int t = 0; t < 4; ++t) {
      callers.emplace_back([&, t] {
        started.fetch_add(1);
        const KmxShortcut list[] = {{1, "Ctrl+A", ""}, {2, t % 2 ? "Ctrl+B" : "Ctrl+C", ""}};
        for (int i = 0;; ++i) {
          const uint32_t status =
              (i + t) % 3 == 0 ? kmx_set_raw_mask(handle_, 0x1) : kmx_apply_hotkeys(handle_, list, (i + t) % 3);
          if (status != KMX_OK && status != KMX_ERR_CLOSED) bad_status = static_cast<int>(status);
          if (status != KMX_OK) return;
        }
      });
    }
    while (started.load() < 4) std::this_thread::yield();
    if (round % 2) std::this_thread::sleep_for(std::chrono::microseconds(200 * (round % 5)));
    std::thread stopper([&] { EXPECT_EQ(kmx_stop(handle_), KMX_OK); });
    EXPECT_EQ(kmx_stop(handle_), KMX_OK);
    stopper.join();
    for (auto& c : callers) c.join();
    ASSERT_EQ(bad_status.load(), -1) << "round " << round << ": a command ended with " << bad_status.load();
    kmx_destroy(handle_);
    handle_ = nullptr;
    scripted::reset();
  }
}

int soak_seconds() {
  const char* text = std::getenv("KMX_SOAK_SECONDS");
  const int n = text ? std::atoi(text) : 0;
  return n > 0 ? n : 2;
}

using Soak = RuntimeTest;

// Apply, chord, clear as fast as they go, for KMX_SOAK_SECONDS (2 s by
// default): a poller on another thread sees every press followed by its
// release, whether the key went up before the clear or was still held, and
// what the process holds stays flat after the first tenth of the run.
TEST_F(Soak, EveryPressHasItsReleaseUnderApplyChordClear) {
  create();
  std::map<uint64_t, int> down;  // per id: 1 while pressed
  std::atomic<bool> broken{false};
  std::atomic<uint64_t> presses{0};
  std::thread poller([&] {
    KmxEvent e;
    while (kmx_poll_event(handle_, &e, 0xFFFFFFFF) == KMX_OK) {
      int& state = down[e.shortcut_id];
      if (state == e.down) broken = true;  // a second press, or a release without its press
      state = e.down;
      if (e.down) presses.fetch_add(1);
    }
  });
  const uint32_t mods[] = {0xE0, 0xE1};
  const auto start = std::chrono::steady_clock::now();
  const auto until = start + std::chrono::seconds(soak_seconds());
  const auto warm = start + std::chrono::seconds(soak_seconds()) / 10;
  uint64_t cycles = 0, cycles_warm = 0;
  size_t memory_warm = 0;
  while (std::chrono::steady_clock::now() < until && !broken) {
    if (cycles_warm == 0 && std::chrono::steady_clock::now() >= warm) {
      cycles_warm = cycles;
      memory_warm = held_memory_bytes();
    }
    const uint64_t id = 100 + cycles % 3;
    const KmxShortcut set[] = {{id, "Ctrl+Shift+F3", ""}, {7, "Alt+F4", ""}};
    ASSERT_EQ(kmx_apply_hotkeys(handle_, set, 2), KMX_OK);
    ASSERT_EQ(kmx_send_chord(handle_, mods, 2, 0x3C), KMX_OK);
    switch (cycles % 3) {
      case 0:  // the key is still down when its registration goes
        scripted::trigger_hotkey("alt+f4", true);
        break;
      case 1:  // it comes up only after the clear
        scripted::trigger_hotkey("alt+f4", true);
        ASSERT_EQ(kmx_apply_hotkeys(handle_, nullptr, 0), KMX_OK);
        scripted::trigger_hotkey("alt+f4", false);
        break;
      default:
        scripted::trigger_hotkey("alt+f4", true);
        scripted::trigger_hotkey("alt+f4", false);
        break;
    }
    ASSERT_EQ(kmx_apply_hotkeys(handle_, nullptr, 0), KMX_OK);
    ++cycles;
  }
  const size_t memory_end = held_memory_bytes();
  ASSERT_EQ(kmx_stop(handle_), KMX_OK);
  poller.join();
  EXPECT_FALSE(broken.load());
  for (const auto& [id, state] : down) EXPECT_EQ(state, 0) << "id " << id << " left pressed";
  EXPECT_EQ(presses.load(), 2 * cycles);
  ASSERT_NE(cycles_warm, 0u);
  EXPECT_LE(memory_end, memory_warm + allowed_growth(cycles - cycles_warm))
      << "from " << memory_warm << " to " << memory_end << " bytes over " << cycles - cycles_warm << " cycles";
  std::printf("[ soak ] %llu cycles; memory %zu -> %zu bytes\n", static_cast<unsigned long long>(cycles), memory_warm,
              memory_end);
}

}  // namespace
}  // namespace kmx::testing
