// The worker below the runtime: commands queued straight onto its command
// queue, so that several can wait for one wake.
#include <gtest/gtest.h>
#include <kmxsim/kmxsim.h>

#include <chrono>
#include <optional>

#include "platform/backend.h"

namespace kmx::platform {
namespace {

using namespace std::chrono_literals;

template <class T>
std::optional<T> wait_for(const queue::Receiver<T>& rx) {
  auto [value, why] = rx.recv(queue::Clock::now() + 10s);
  return std::move(value);
}

template <class T>
std::pair<queue::Sender<T>, queue::Receiver<T>> reply_channel() {
  return queue::channel<T>();
}

class WorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kmxsim_reset();
    kmxsim_get_counts(&before_);
  }
  void TearDown() override {
    ASSERT_TRUE(kmxsim_flush(5000));
    kmxsim_counts after{};
    kmxsim_get_counts(&after);
    EXPECT_EQ(after.taps, before_.taps);
    EXPECT_EQ(after.run_loop_sources, before_.run_loop_sources);
    EXPECT_EQ(after.file_descriptors, before_.file_descriptors);
    EXPECT_EQ(after.hotkeys, before_.hotkeys);
    EXPECT_EQ(after.open_fds, before_.open_fds);
    kmxsim_reset();
  }

  BackendStart start(uint32_t mask) {
    auto started = spawn(mask);
    EXPECT_TRUE(started) << started.error().display();
    return std::move(started).value();
  }

  // Stops the worker the way the runtime does and waits for its end.
  static void stop(BackendStart& backend) {
    auto [ack_tx, ack_rx] = reply_channel<Ack>();
    backend.commands.send(Stop{ack_tx});
    backend.wake->signal();
    EXPECT_TRUE(wait_for(ack_rx));
    EXPECT_FALSE(backend.worker.join());
  }

  kmxsim_counts before_{};
};

model::ShortcutList shortcuts(std::initializer_list<std::pair<uint64_t, const char*>> items) {
  model::ShortcutList list;
  for (auto [id, accel] : items) list.push_back({accel, "", id});
  return list;
}

TEST_F(WorkerTest, CommandsQueuedBeforeOneWakeAreAllHandledInOrder) {
  BackendStart backend = start(0);
  auto [first_tx, first_rx] = reply_channel<Result<hotkeys::ApplyOutcome>>();
  auto [second_tx, second_rx] = reply_channel<Result<hotkeys::ApplyOutcome>>();
  auto [mask_tx, mask_rx] = reply_channel<Status>();
  backend.commands.send(ApplyHotkeys{shortcuts({{1, "Ctrl+Alt+K"}}), first_tx});
  backend.commands.send(SetRawMask{KMX_RAW_KEYS, mask_tx});
  backend.commands.send(ApplyHotkeys{shortcuts({{2, "Ctrl+Alt+J"}}), second_tx});
  backend.wake->signal();

  auto first = wait_for(first_rx);
  auto mask = wait_for(mask_rx);
  auto second = wait_for(second_rx);
  ASSERT_TRUE(first && mask && second);
  EXPECT_TRUE(first->ok() && mask->ok() && second->ok());
  // The second apply came after the first: only its list is in force.
  EXPECT_FALSE(kmxsim_hotkey_registered(0x28, 0x1800));
  EXPECT_TRUE(kmxsim_hotkey_registered(0x26, 0x1800));
  kmxsim_counts counts{};
  kmxsim_get_counts(&counts);
  EXPECT_EQ(counts.taps, before_.taps + 1);

  stop(backend);
}

TEST_F(WorkerTest, CommandsBehindStopInTheSameDrainAreStillHandled) {
  BackendStart backend = start(0);
  auto [ack_tx, ack_rx] = reply_channel<Ack>();
  auto [apply_tx, apply_rx] = reply_channel<Result<hotkeys::ApplyOutcome>>();
  backend.commands.send(Stop{ack_tx});
  backend.commands.send(ApplyHotkeys{shortcuts({{7, "Cmd+Alt+J"}}), apply_tx});
  backend.wake->signal();

  EXPECT_TRUE(wait_for(ack_rx));
  auto applied = wait_for(apply_rx);
  ASSERT_TRUE(applied);
  ASSERT_TRUE(applied->ok()) << applied->error().display();
  EXPECT_EQ(applied->value(), hotkeys::ApplyOutcome::applied());

  EXPECT_FALSE(backend.worker.join());
  // The teardown released what the late apply registered, and the event
  // queue closed with the worker's senders.
  EXPECT_FALSE(kmxsim_hotkey_registered(0x26, 0x0900));
  EXPECT_TRUE(backend.events.senders_gone());
}

TEST_F(WorkerTest, RepliesWhoseCallerLeftAreDropped) {
  BackendStart backend = start(0);
  {
    auto [mask_tx, mask_rx] = reply_channel<Status>();
    backend.commands.send(SetRawMask{KMX_RAW_BUTTONS, mask_tx});
  }  // the caller gave up before the worker woke
  backend.wake->signal();
  auto [mask_tx, mask_rx] = reply_channel<Status>();
  backend.commands.send(SetRawMask{0, mask_tx});
  backend.wake->signal();
  auto answered = wait_for(mask_rx);
  ASSERT_TRUE(answered);
  EXPECT_TRUE(answered->ok());
  stop(backend);
}

TEST_F(WorkerTest, WakeSourceFailuresEndTheStartCleanly) {
  for (kmxsim_function fn : {KMXSIM_FN_CFFileDescriptorCreate, KMXSIM_FN_CFFileDescriptorCreateRunLoopSource}) {
    kmxsim_fail_nth_call(fn, 1, 0);
    auto started = spawn(KMX_RAW_KEYS | KMX_RAW_BUTTONS);
    ASSERT_FALSE(started);
    EXPECT_EQ(started.error(), KmxError::backend("command wake source failed"));
    kmxsim_counts counts{};
    kmxsim_get_counts(&counts);
    EXPECT_EQ(counts.taps, before_.taps);
    EXPECT_EQ(counts.valid_file_descriptors, before_.valid_file_descriptors);
    EXPECT_EQ(counts.open_fds, before_.open_fds);
  }
}

TEST_F(WorkerTest, TapWithoutRunLoopSourceFailsTheStart) {
  kmxsim_fail_nth_call(KMXSIM_FN_CFMachPortCreateRunLoopSource, 1, 0);
  auto started = spawn(KMX_RAW_DRAG_MOTION);
  ASSERT_FALSE(started);
  EXPECT_EQ(started.error(), KmxError::backend("failed to create CoreGraphics run-loop source"));
}

TEST_F(WorkerTest, PointerTapFailureAfterAKeyTapRemovesBoth) {
  kmxsim_fail_nth_call(KMXSIM_FN_CGEventTapCreate, 2, 0);
  auto started = spawn(KMX_RAW_KEYS | KMX_RAW_BUTTONS);
  ASSERT_FALSE(started);
  EXPECT_EQ(started.error().message(),
            "CoreGraphics event tap could not be created. Grant Accessibility/Input Monitoring permission for raw "
            "input features");
  EXPECT_EQ(kmxsim_call_count(KMXSIM_FN_CGEventTapCreate), 2u);
}

}  // namespace
}  // namespace kmx::platform
