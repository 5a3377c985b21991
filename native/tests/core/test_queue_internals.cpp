// The queue's parts that the poll-path stress cannot single out: the
// eventcount's one-wake-per-registration rule and the recycled blocks.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "queue/event_count.h"
#include "queue/mpsc_queue.h"

namespace kmx::queue {
namespace {

// Waits for one change the way pollers do; returns once `ready` holds.
void wait_for(EventCount& ec, const std::atomic<int>& ready, int at_least) {
  for (;;) {
    const uint64_t key = ec.prepare_wait();
    if (ready.load() >= at_least) {
      ec.cancel_wait();
      return;
    }
    ec.wait(key, std::nullopt);
  }
}

TEST(EventCount, OneNotifyWakesEveryRegisteredWaiter) {
  EventCount ec;
  std::atomic<int> ready{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) waiters.emplace_back([&] { wait_for(ec, ready, 1); });
  ready.store(1);
  ec.notify();
  for (auto& t : waiters) t.join();  // hangs (suite time-out) if one stays asleep
}

TEST(EventCount, ARegistrationAfterANotifyIsWokenByTheNext) {
  // The first notify leaves "a wake is under way" behind; a waiter that
  // registers after it must not be skipped by the second.
  EventCount ec;
  std::atomic<int> ready{0};
  for (int round = 1; round <= 500; ++round) {
    const uint64_t stale = ec.prepare_wait();  // a registered waiter that never sleeps
    ec.notify();
    std::thread sleeper([&] { wait_for(ec, ready, round); });
    if (round % 2) std::this_thread::yield();
    ready.store(round);
    ec.notify();
    sleeper.join();
    EXPECT_TRUE(ec.wait(stale, EventCount::Clock::now()));  // its key was moved past: woken, at once
  }
}

TEST(EventCount, ANotifyEndsATimedSleepLongBeforeItsDeadline) {
  EventCount ec;
  std::atomic<bool> asleep{false};
  bool woken = false;
  const auto start = EventCount::Clock::now();
  std::thread sleeper([&] {
    const uint64_t key = ec.prepare_wait();
    asleep.store(true);
    woken = ec.wait(key, EventCount::Clock::now() + std::chrono::seconds(30));
  });
  while (!asleep.load()) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // into the kernel's wait, most likely
  ec.notify();
  sleeper.join();
  EXPECT_TRUE(woken);
  EXPECT_LT(EventCount::Clock::now() - start, std::chrono::seconds(20)) << "the wake was lost; the deadline ended the wait";
}

TEST(EventCount, TimedWaitWithoutNotifyTimesOut) {
  EventCount ec;
  const uint64_t key = ec.prepare_wait();
  EXPECT_FALSE(ec.wait(key, EventCount::Clock::now() + std::chrono::milliseconds(2)));
  ec.notify();  // nobody registered any more: nothing to wake, nothing left pending
  const uint64_t next = ec.prepare_wait();
  EXPECT_EQ(next, key);
  ec.cancel_wait();
}

// Counts live values, so a block recycled with a value left in it, or a
// value destroyed twice, shows.
struct Tracked {
  static inline std::atomic<int> live{0};
  explicit Tracked(int v) : value(std::make_unique<int>(v)) { ++live; }
  Tracked(Tracked&& o) noexcept : value(std::move(o.value)) { ++live; }
  Tracked& operator=(Tracked&&) = delete;
  ~Tracked() { --live; }
  std::unique_ptr<int> value;
};

TEST(MpscQueue, RecycledBlocksStartEmptyAndKeepOrder) {
  {
    MpscQueue<Tracked> q;
    int next_in = 0, next_out = 0;
    // Uneven bursts: the head crosses block ends at every offset, handing
    // blocks back while the producer is mid-block.
    for (int burst = 1; burst < 200; ++burst) {
      for (int i = 0; i < burst % 70; ++i) q.push(Tracked(next_in++));
      for (int i = 0; i < burst % 45; ++i) {
        auto v = q.try_pop();
        if (!v) break;
        ASSERT_EQ(*v->value, next_out++);
      }
    }
    while (auto v = q.try_pop()) ASSERT_EQ(*v->value, next_out++);
    EXPECT_EQ(next_out, next_in);
    EXPECT_EQ(Tracked::live.load(), 0);
    for (int i = 0; i < 100; ++i) q.push(Tracked(i));  // left for the destructor
  }
  EXPECT_EQ(Tracked::live.load(), 0);
}

TEST(MpscQueue, ProducersRacingForBlockEndsLoseNothing) {
  // Producers that lose the race to a block end hand their spare block
  // back; with four of them on two cores that happens constantly.
  MpscQueue<std::string> q;
  constexpr int kPer = 20000;
  std::vector<std::thread> producers;
  for (int p = 0; p < 4; ++p) {
    producers.emplace_back([&q, p] {
      for (int i = 0; i < kPer; ++i) q.push(std::to_string(p) + ":" + std::to_string(i));
    });
  }
  std::vector<int> next(4, 0);
  int taken = 0;
  while (taken < 4 * kPer) {
    auto v = q.try_pop();
    if (!v) continue;
    const int p = (*v)[0] - '0';
    ASSERT_EQ(*v, std::to_string(p) + ":" + std::to_string(next[p]));
    ++next[p];
    ++taken;
  }
  for (auto& t : producers) t.join();
  EXPECT_FALSE(q.try_pop().has_value());
}

}  // namespace
}  // namespace kmx::queue
