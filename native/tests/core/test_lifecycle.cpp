// Creation, the single-runtime rule, stop and destroy through the C interface.
#include <atomic>
#include <thread>

#include "runtime_fixture.h"

namespace kmx::testing {
namespace {

using Lifecycle = RuntimeTest;

TEST_F(Lifecycle, AbiVersionIsFixed) { EXPECT_EQ(kmx_abi_version(), 0x10000u); }

TEST_F(Lifecycle, NullOptionsMeanCurrentVersionAndEmptyMask) {
  ASSERT_EQ(kmx_create(nullptr, &handle_), KMX_OK);
  ASSERT_NE(handle_, nullptr);
  std::lock_guard lock(scripted::control().mu);
  EXPECT_EQ(scripted::control().masks.at(0), 0u);
}

TEST_F(Lifecycle, NullOutPointerIsRefusedWithoutText) {
  const std::string before = last_init_error();
  EXPECT_EQ(kmx_create(nullptr, nullptr), KMX_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(last_init_error(), before);
}

TEST_F(Lifecycle, AbiMismatchReturnsSixWithBothVersions) {
  KmxHandle h = reinterpret_cast<KmxHandle>(0x1);
  KmxCreateOptions options{0x20000, 0};
  EXPECT_EQ(kmx_create(&options, &h), KMX_ERR_ABI_MISMATCH);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(last_init_error(), "invalid argument: ABI mismatch: caller=0x00020000, native=0x00010000");
}

TEST_F(Lifecycle, UnknownMaskBitsAreNamedAndLeaveNoRuntime) {
  KmxCreateOptions options{KMX_ABI_VERSION, 0xFF};
  EXPECT_EQ(kmx_create(&options, &handle_), KMX_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(last_init_error(), "invalid argument: unknown raw mask bits 0xf8");
  options.raw_mask = 0x8;
  EXPECT_EQ(kmx_create(&options, &handle_), KMX_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(last_init_error(), "invalid argument: unknown raw mask bits 0x8");
  EXPECT_FALSE(runtime::instance_active());
}

TEST_F(Lifecycle, SecondRuntimeIsRefusedUntilTheFirstIsDestroyed) {
  create();
  KmxHandle second = reinterpret_cast<KmxHandle>(0x1);
  EXPECT_EQ(kmx_create(nullptr, &second), KMX_ERR_BACKEND);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(last_init_error(), "backend error: only one keymux runtime may be active in a process");

  // A stopped handle still holds the slot.
  EXPECT_EQ(kmx_stop(handle_), KMX_OK);
  EXPECT_EQ(kmx_create(nullptr, &second), KMX_ERR_BACKEND);

  kmx_destroy(handle_);
  handle_ = nullptr;
  ASSERT_EQ(kmx_create(nullptr, &handle_), KMX_OK);
}

TEST_F(Lifecycle, SuccessfulCreationKeepsTheLastInitError) {
  KmxCreateOptions options{KMX_ABI_VERSION, 0x8};
  EXPECT_EQ(kmx_create(&options, &handle_), KMX_ERR_INVALID_ARGUMENT);
  create();
  EXPECT_EQ(last_init_error(), "invalid argument: unknown raw mask bits 0x8");
}

TEST_F(Lifecycle, BackendInitFailureIsReportedAndReleasesTheSlot) {
  scripted::control().init_error = KmxError::backend("no display");
  EXPECT_EQ(kmx_create(nullptr, &handle_), KMX_ERR_BACKEND);
  EXPECT_EQ(last_init_error(), "backend error: no display");
  EXPECT_FALSE(runtime::instance_active());
}

TEST_F(Lifecycle, WorkerEndingBeforeItReportsIsABackendError) {
  scripted::control().exit_before_report = true;
  EXPECT_EQ(kmx_create(nullptr, &handle_), KMX_ERR_BACKEND);
  EXPECT_EQ(last_init_error(), "backend error: scripted backend exited during initialization");
  EXPECT_FALSE(runtime::instance_active());
}

TEST_F(Lifecycle, StopTwiceReturnsZeroAndEndsTheWorker) {
  create();
  EXPECT_EQ(kmx_stop(handle_), KMX_OK);
  EXPECT_EQ(scripted::control().workers_alive.load(), 0);
  EXPECT_EQ(kmx_stop(handle_), KMX_OK);
}

TEST_F(Lifecycle, WorkerFaultAtShutdownIsStatusTwoWithPlainText) {
  scripted::control().fault_at_shutdown = true;
  create();
  EXPECT_EQ(kmx_stop(handle_), KMX_ERR_BACKEND);
  EXPECT_EQ(last_error(handle_), "native backend thread panicked during shutdown");
  EXPECT_EQ(kmx_stop(handle_), KMX_OK);
}

TEST_F(Lifecycle, CallsAfterStopAreClosed) {
  create();
  ASSERT_EQ(kmx_stop(handle_), KMX_OK);
  const uint32_t mods[] = {0xE0};
  const uint32_t usages[] = {0x04};
  uint8_t results[1] = {7};
  EXPECT_EQ(kmx_set_raw_mask(handle_, 0x3), KMX_ERR_CLOSED);
  EXPECT_EQ(last_error(handle_), "runtime is closed");
  EXPECT_EQ(kmx_apply_hotkeys(handle_, nullptr, 0), KMX_ERR_CLOSED);
  EXPECT_EQ(kmx_send_chord(handle_, mods, 1, 0x04), KMX_ERR_CLOSED);
  EXPECT_EQ(kmx_is_key_down_many(handle_, usages, 1, results), KMX_ERR_CLOSED);
  EXPECT_EQ(results[0], 7);
  EXPECT_EQ(kmx_is_key_down(handle_, 0x04), -4);
  // Getters keep working.
  char name[32];
  EXPECT_EQ(kmx_backend(handle_, name, sizeof name), 9u);
  EXPECT_STREQ(name, "scripted");
  EXPECT_EQ(kmx_capabilities(handle_), 0xEFu);
}

TEST_F(Lifecycle, NullHandlesAreHarmless) {
  kmx_destroy(nullptr);
  EXPECT_EQ(kmx_stop(nullptr), KMX_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(kmx_capabilities(nullptr), 0u);
  char buf[8] = "keep";
  EXPECT_EQ(kmx_backend(nullptr, buf, sizeof buf), 0u);
  EXPECT_EQ(kmx_last_error(nullptr, buf, 64), 0u);
  EXPECT_STREQ(buf, "keep");
  EXPECT_EQ(kmx_set_raw_mask(nullptr, 1), KMX_ERR_INVALID_ARGUMENT);
  KmxEvent e;
  EXPECT_EQ(kmx_poll_event(nullptr, &e, 0), KMX_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(kmx_apply_leftovers(nullptr, buf, sizeof buf), 0u);
}

TEST_F(Lifecycle, DestroyWaitsForCallsInFlight) {
  runtime::Timeouts t;
  t.raw_mask = std::chrono::milliseconds(2000);
  create_with(t);
  scripted::control().reply_delay_ms = 1000;
  std::atomic<bool> returned{false};
  std::thread caller([&] {
    EXPECT_EQ(kmx_set_raw_mask(handle_, 0x1), KMX_OK);
    returned = true;
  });
  while (scripted::control().commands_handled.load() == 0) std::this_thread::yield();
  kmx_destroy(handle_);
  // The call in flight finished before destroy went on. Its flag is set just
  // after it returns, so it is given a moment; a destroy that did not wait
  // would leave it unset for most of the reply's second.
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
  while (!returned.load() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
  EXPECT_TRUE(returned.load());
  handle_ = nullptr;
  caller.join();
}

TEST(Gate, WriterGetsThroughWhileReadersKeepReentering) {
  runtime::Gate gate;
  std::atomic<bool> quit{false};
  std::atomic<int> entries{0};
  std::vector<std::thread> readers;
  for (int i = 0; i < 3; ++i) {
    readers.emplace_back([&] {
      // Overlapping shared holds: with a reader-preferring lock some reader
      // always holds the gate and the writer starves.
      while (!quit.load()) {
        gate.lock_shared();
        entries.fetch_add(1);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        gate.unlock_shared();
      }
    });
  }
  while (entries.load() < 30) std::this_thread::yield();
  gate.lock();  // hangs (and the suite times out) if readers starve it
  const int during = entries.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(entries.load(), during);  // no reader entered while the writer held it
  gate.unlock();
  quit = true;
  for (auto& t : readers) t.join();
}

TEST_F(Lifecycle, StopReleasesAPollerWaitingForever) {
  create();
  std::atomic<uint32_t> status{0};
  std::thread poller([&] {
    KmxEvent e;
    status = kmx_poll_event(handle_, &e, 0xFFFFFFFF);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::thread stopper([&] { EXPECT_EQ(kmx_stop(handle_), KMX_OK); });
  poller.join();
  stopper.join();
  EXPECT_EQ(status.load(), KMX_ERR_CLOSED);
}

}  // namespace
}  // namespace kmx::testing
