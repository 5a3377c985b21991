// Event polling: ordering of queued events and motion, time-outs, closing.
#include <thread>

#include "model/event.h"
#include "runtime_fixture.h"

namespace kmx::testing {
namespace {

using Poll = RuntimeTest;

KmxEvent sentinel() {
  KmxEvent e;
  std::memset(&e, 0xAB, sizeof e);
  return e;
}

TEST_F(Poll, IdleRuntimeTimesOutAndLeavesTheRecordUntouched) {
  create();
  KmxEvent e = sentinel();
  EXPECT_EQ(kmx_poll_event(handle_, &e, 0), KMX_ERR_TIMEOUT);
  const KmxEvent expected = sentinel();
  EXPECT_EQ(std::memcmp(&e, &expected, sizeof e), 0);
  EXPECT_EQ(kmx_poll_event(handle_, &e, 20), KMX_ERR_TIMEOUT);
  EXPECT_EQ(std::memcmp(&e, &expected, sizeof e), 0);
}

// A finite time-out is waited in full: seconds and milliseconds both count.
TEST_F(Poll, FiniteTimeOutsAreWaitedInFull) {
  create();
  KmxEvent e;
  for (uint32_t timeout_ms : {20u, 1005u}) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(kmx_poll_event(handle_, &e, timeout_ms), KMX_ERR_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(timeout_ms));
  }
}

TEST_F(Poll, ThreeMotionsCoalesceIntoTheNewest) {
  create();
  platform::MotionChannel channel;
  EXPECT_FALSE(channel.store(model::motion_event(1, 1, 0)));
  EXPECT_TRUE(channel.store(model::motion_event(2, 2, 0)));
  EXPECT_TRUE(channel.store(model::motion_event(3, 3, 0)));

  for (double v : {1.0, 2.0, 3.0}) ASSERT_TRUE(scripted::emit_motion(model::motion_event(v, -v, 0)));
  KmxEvent e;
  ASSERT_EQ(kmx_poll_event(handle_, &e, 0), KMX_OK);
  EXPECT_EQ(e.kind, KMX_EVENT_MOTION);
  EXPECT_EQ(e.x, 3.0);
  EXPECT_EQ(e.y, -3.0);
  EXPECT_EQ(kmx_poll_event(handle_, &e, 10), KMX_ERR_TIMEOUT);
}

// A drag: press, motion, motion, release, as a backend reports them, taken
// by a host that polls only afterwards (once a frame). The drag's last
// sample comes before the release that ended it; samples between two
// events coalesce into the newest.
TEST_F(Poll, MotionKeepsItsPlaceBetweenEvents) {
  create();
  ASSERT_TRUE(scripted::emit(model::button_event(KMX_BUTTON_LEFT, true, 0, 0, 0)));
  ASSERT_TRUE(scripted::emit_motion(model::motion_event(1, 1, 0)));
  ASSERT_TRUE(scripted::emit_motion(model::motion_event(2, 2, 0)));
  ASSERT_TRUE(scripted::emit(model::button_event(KMX_BUTTON_LEFT, false, 0, 0, 0)));
  KmxEvent e;
  ASSERT_EQ(kmx_poll_event(handle_, &e, 0), KMX_OK);
  EXPECT_EQ(e.kind, KMX_EVENT_BUTTON);
  EXPECT_EQ(e.down, 1u);
  ASSERT_EQ(kmx_poll_event(handle_, &e, 0), KMX_OK);
  EXPECT_EQ(e.kind, KMX_EVENT_MOTION);
  EXPECT_EQ(e.x, 2.0);
  ASSERT_EQ(kmx_poll_event(handle_, &e, 0), KMX_OK);
  EXPECT_EQ(e.kind, KMX_EVENT_BUTTON);
  EXPECT_EQ(e.down, 0u);
  EXPECT_EQ(kmx_poll_event(handle_, &e, 0), KMX_ERR_TIMEOUT);
}

// The motion that waits as the queue closes is handed out, then CLOSED, for good.
TEST_F(Poll, TheLastMotionComesBeforeClosed) {
  create();
  ASSERT_TRUE(scripted::emit(model::key_event(0, 0x41, true, 0)));
  ASSERT_TRUE(scripted::emit_motion(model::motion_event(5, 6, 0)));
  ASSERT_EQ(kmx_stop(handle_), KMX_OK);
  KmxEvent e;
  ASSERT_EQ(kmx_poll_event(handle_, &e, 0xFFFFFFFF), KMX_OK);
  EXPECT_EQ(e.kind, KMX_EVENT_KEY);
  ASSERT_EQ(kmx_poll_event(handle_, &e, 0xFFFFFFFF), KMX_OK);
  EXPECT_EQ(e.kind, KMX_EVENT_MOTION);
  EXPECT_EQ(kmx_poll_event(handle_, &e, 0xFFFFFFFF), KMX_ERR_CLOSED);
  EXPECT_EQ(kmx_poll_event(handle_, &e, 0), KMX_ERR_CLOSED);
}

TEST_F(Poll, ABlockedPollerWakesForAnEventAndForAMotion) {
  create();
  KmxEvent e;
  std::thread producer([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    scripted::emit(model::hotkey_event(42, true));
  });
  ASSERT_EQ(kmx_poll_event(handle_, &e, 0xFFFFFFFF), KMX_OK);
  producer.join();
  EXPECT_EQ(e.kind, KMX_EVENT_HOTKEY);
  EXPECT_EQ(e.shortcut_id, 42u);
  EXPECT_EQ(e.down, 1);

  std::thread mover([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    scripted::emit_motion(model::motion_event(7, 8, 0));
  });
  ASSERT_EQ(kmx_poll_event(handle_, &e, 5000), KMX_OK);
  mover.join();
  EXPECT_EQ(e.kind, KMX_EVENT_MOTION);
}

TEST_F(Poll, QueuedEventsSurviveStopThenClosed) {
  create();
  ASSERT_TRUE(scripted::emit(model::key_event(0, 1, true, 0)));
  ASSERT_TRUE(scripted::emit(model::key_event(0, 2, true, 0)));
  ASSERT_EQ(kmx_stop(handle_), KMX_OK);
  KmxEvent e;
  ASSERT_EQ(kmx_poll_event(handle_, &e, 0), KMX_OK);
  EXPECT_EQ(e.native_code, 1u);
  ASSERT_EQ(kmx_poll_event(handle_, &e, 0xFFFFFFFF), KMX_OK);
  EXPECT_EQ(e.native_code, 2u);
  EXPECT_EQ(kmx_poll_event(handle_, &e, 0), KMX_ERR_CLOSED);
  EXPECT_EQ(kmx_poll_event(handle_, &e, 0xFFFFFFFF), KMX_ERR_CLOSED);
}

TEST_F(Poll, PollNeverRecordsAnError) {
  create();
  EXPECT_EQ(kmx_set_raw_mask(handle_, 0x10), KMX_ERR_INVALID_ARGUMENT);
  KmxEvent e;
  EXPECT_EQ(kmx_poll_event(handle_, &e, 0), KMX_ERR_TIMEOUT);
  kmx_stop(handle_);
  EXPECT_EQ(kmx_poll_event(handle_, &e, 0), KMX_ERR_CLOSED);
  EXPECT_EQ(last_error(handle_), "invalid argument: unknown raw mask bits 0x10");
}

TEST(EventBuilders, FieldsAndTimestamps) {
  const KmxEvent key = model::key_event(2, 0x38, true, KMX_FLAG_SYNTHETIC);
  EXPECT_EQ(key.kind, KMX_EVENT_KEY);
  EXPECT_EQ(key.reserved, 0);
  EXPECT_EQ(key.x, 0.0);
  EXPECT_EQ(key.y, 0.0);
  EXPECT_EQ(key.shortcut_id, 0u);
  EXPECT_GE(key.timestamp_us, 1u);

  const KmxEvent middle = model::button_event(3, false, 10.5, 20.25, 0);
  EXPECT_EQ(middle.button, 3);
  EXPECT_EQ(middle.down, 0);
  EXPECT_EQ(middle.x, 10.5);

  const KmxEvent first = model::hotkey_event(1, true);
  std::this_thread::sleep_for(std::chrono::microseconds(5));
  const KmxEvent second = model::hotkey_event(1, false);
  EXPECT_LT(first.timestamp_us, second.timestamp_us);
}

}  // namespace
}  // namespace kmx::testing
