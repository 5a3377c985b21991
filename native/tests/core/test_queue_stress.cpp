// The event queue under load: M producers, K pollers on the real poll path.
// Every event is polled exactly once, each producer's order is kept, and a
// poller waiting without a time-out always wakes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "model/event.h"
#include "queue/channel.h"
#include "runtime/poll.h"

namespace kmx {
namespace {

struct Stamp {
  uint32_t producer;
  uint32_t seq;
};

KmxEvent stamped(uint32_t producer, uint32_t seq) {
  KmxEvent e = model::key_event(0, producer, true, 0);
  e.shortcut_id = seq;
  return e;
}

void run_stress(int producers, int pollers, uint32_t per_producer, uint32_t timeout_ms) {
  auto pipes = platform::make_event_pipes();
  std::vector<std::vector<Stamp>> seen(pollers);
  std::atomic<int> closed_seen{0};

  std::vector<std::thread> consumers;
  for (int k = 0; k < pollers; ++k) {
    consumers.emplace_back([&, k] {
      KmxEvent e;
      for (;;) {
        const uint32_t status = runtime::poll_event(pipes.receiver, pipes.motion, &e, timeout_ms);
        if (status == KMX_ERR_CLOSED) {
          closed_seen.fetch_add(1);
          return;
        }
        if (status == KMX_OK) seen[k].push_back({e.native_code, static_cast<uint32_t>(e.shortcut_id)});
      }
    });
  }
  std::vector<std::thread> threads;
  for (int p = 0; p < producers; ++p) {
    threads.emplace_back([sender = pipes.sender, p, per_producer] {
      for (uint32_t i = 0; i < per_producer; ++i) ASSERT_TRUE(sender.send(stamped(p, i)));
    });
  }
  for (auto& t : threads) t.join();
  pipes.sender.reset();  // the last producing end: pollers see closed once drained
  for (auto& t : consumers) t.join();

  EXPECT_EQ(closed_seen.load(), pollers);
  std::vector<std::vector<uint32_t>> per(producers);
  size_t total = 0;
  for (auto& list : seen) {
    // Within one poller, a producer's events come out in push order.
    std::vector<int64_t> last(producers, -1);
    for (const Stamp& s : list) {
      ASSERT_LT(s.producer, static_cast<uint32_t>(producers));
      EXPECT_GT(static_cast<int64_t>(s.seq), last[s.producer]);
      last[s.producer] = s.seq;
      per[s.producer].push_back(s.seq);
    }
    total += list.size();
  }
  EXPECT_EQ(total, static_cast<size_t>(producers) * per_producer);
  for (auto& seqs : per) {
    std::sort(seqs.begin(), seqs.end());
    ASSERT_EQ(seqs.size(), per_producer);
    for (uint32_t i = 0; i < per_producer; ++i) ASSERT_EQ(seqs[i], i);  // exactly once
  }
}

TEST(QueueStress, ManyProducersManyPollersInfiniteWait) { run_stress(4, 3, 20000, 0xFFFFFFFF); }
TEST(QueueStress, ManyProducersOnePollerShortTimeouts) { run_stress(4, 1, 20000, 1); }
TEST(QueueStress, ZeroTimeoutPollersSpin) { run_stress(2, 2, 10000, 0); }

TEST(QueueStress, SingleProducerOrderIsStrict) {
  auto pipes = platform::make_event_pipes();
  std::thread producer([sender = std::move(pipes.sender)] {
    for (uint32_t i = 0; i < 50000; ++i) sender.send(stamped(0, i));
  });
  KmxEvent e;
  uint64_t expected = 0;
  while (runtime::poll_event(pipes.receiver, pipes.motion, &e, 0xFFFFFFFF) == KMX_OK) {
    ASSERT_EQ(e.shortcut_id, expected);
    ++expected;
  }
  producer.join();
  EXPECT_EQ(expected, 50000u);
}

TEST(QueueStress, FifoAcrossProducersFollowsPushOrder) {
  // Pushes ordered by a handshake must come out in that order, even from
  // two different threads.
  auto pipes = platform::make_event_pipes();
  std::atomic<int> turn{0};
  auto run = [&](uint32_t id) {
    for (uint32_t i = 0; i < 2000; ++i) {
      while (turn.load() % 2 != static_cast<int>(id)) std::this_thread::yield();
      pipes.sender.send(stamped(id, i));
      turn.fetch_add(1);
    }
  };
  std::thread a(run, 0), b(run, 1);
  a.join();
  b.join();
  KmxEvent e;
  for (uint32_t n = 0; n < 4000; ++n) {
    ASSERT_EQ(runtime::poll_event(pipes.receiver, pipes.motion, &e, 0), KMX_OK);
    EXPECT_EQ(e.native_code, n % 2);
    EXPECT_EQ(e.shortcut_id, n / 2);
  }
}

TEST(QueueStress, NoLostWakeUpForBlockedPollers) {
  auto pipes = platform::make_event_pipes();
  for (int round = 0; round < 2000; ++round) {
    std::atomic<bool> got{false};
    std::thread poller([&] {
      KmxEvent e;
      ASSERT_EQ(runtime::poll_event(pipes.receiver, pipes.motion, &e, 0xFFFFFFFF), KMX_OK);
      got = true;
    });
    if (round % 2) std::this_thread::yield();
    if (round % 3 == 0) {
      pipes.motion.store(model::motion_event(round, round, 0));
    } else {
      pipes.sender.send(stamped(0, round));
    }
    poller.join();  // hangs (suite time-out) on a lost wake-up
    EXPECT_TRUE(got.load());
  }
}

// Motion coalesces into the newest sample, and that sample keeps its place:
// after the events pushed before it was stored, before the one pushed after.
TEST(QueueStress, TheNewestMotionKeepsItsPlaceAmongEvents) {
  auto pipes = platform::make_event_pipes();
  std::thread producer([&] {
    for (uint32_t i = 0; i < 20000; ++i) {
      pipes.motion.store(model::motion_event(i, 0, 0));
      if (i % 10 == 9) pipes.sender.send(stamped(1, i));
    }
  });
  producer.join();
  KmxEvent e;
  std::vector<double> order;  // events by number, the motion as -1 - x
  while (runtime::poll_event(pipes.receiver, pipes.motion, &e, 0) == KMX_OK)
    order.push_back(e.kind == KMX_EVENT_MOTION ? -1 - e.x : static_cast<double>(e.shortcut_id));
  ASSERT_EQ(order.size(), 2001u);
  for (size_t i = 0; i < 1999; ++i) EXPECT_EQ(order[i], 10.0 * i + 9);
  EXPECT_EQ(order[1999], -1 - 19999.0);
  EXPECT_EQ(order[2000], 19999.0);
}

void spin(unsigned n) {
  for (unsigned i = 0; i < n; ++i) std::atomic_signal_fence(std::memory_order_seq_cst);
}

// Waits for cond, giving up after a span no correct run comes near.
template <class Cond>
bool eventually(Cond cond) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::yield();
  }
  return true;
}

// One producer pushes a key and then stores a motion, over and over, while
// a poller takes them: a motion never comes out before the key pushed ahead
// of it, and motions only move forward.
TEST(QueueStress, AMotionNeverOvertakesTheKeyPushedBeforeIt) {
  auto pipes = platform::make_event_pipes();
  constexpr uint32_t ROUNDS = 50000;
  std::thread producer([&, sender = pipes.sender] {
    for (uint32_t i = 1; i <= ROUNDS; ++i) {
      sender.send(stamped(0, i));
      pipes.motion.store(model::motion_event(i, 0, 0));
      spin(i % 256);  // lets the poller catch up, so it races the producer
    }
  });
  pipes.sender.reset();
  KmxEvent e;
  uint64_t last_key = 0;
  double last_motion = 0;
  uint32_t motions = 0;
  std::string broken;  // the first fault; polling goes on so the producer can finish
  while (runtime::poll_event(pipes.receiver, pipes.motion, &e, 0xFFFFFFFF) == KMX_OK) {
    if (e.kind == KMX_EVENT_MOTION) {
      if (broken.empty() && e.x > static_cast<double>(last_key)) broken = "motion before its key";
      if (broken.empty() && e.x <= last_motion) broken = "motion went back";
      last_motion = e.x;
      ++motions;
    } else {
      if (broken.empty() && e.shortcut_id != last_key + 1) broken = "key out of order";
      last_key = e.shortcut_id;
    }
  }
  producer.join();
  EXPECT_EQ(broken, "") << "at motion " << last_motion << ", key " << last_key;
  EXPECT_EQ(last_key, ROUNDS);
  EXPECT_GE(motions, 1u);
  EXPECT_EQ(last_motion, static_cast<double>(ROUNDS));  // handed out before CLOSED
  EXPECT_FALSE(pipes.motion.pending());
}

// Two pollers with unlimited time-outs, two motions stored back to back per
// round: either they coalesce (one poller gets the newer one) or each
// poller gets one. A motion must never stay in the slot while the other
// poller sleeps.
TEST(QueueStress, NoMotionIsLeftInTheSlotWhileEveryPollerSleeps) {
  auto pipes = platform::make_event_pipes();
  constexpr int ROUNDS = 20000;
  std::atomic<int> go{0};
  std::atomic<int> returned{0};
  std::vector<std::thread> pollers;
  for (int k = 0; k < 2; ++k) {
    pollers.emplace_back([&] {
      for (int round = 1;; ++round) {
        while (go.load() < round) std::this_thread::yield();
        KmxEvent e;
        if (runtime::poll_event(pipes.receiver, pipes.motion, &e, 0xFFFFFFFF) == KMX_ERR_CLOSED) return;
        returned.fetch_add(1);
      }
    });
  }
  // A failed round ends the loop; closing the queue then frees the pollers.
  for (int round = 1; round <= ROUNDS; ++round) {
    returned.store(0);
    go.store(round);
    pipes.motion.store(model::motion_event(round, 0, 0));
    spin(round % 512);  // sweeps the second store across the first poller's take
    pipes.motion.store(model::motion_event(round, 1, 0));
    const bool settled =
        eventually([&] { return returned.load() == 2 || (returned.load() == 1 && !pipes.motion.pending()); });
    EXPECT_TRUE(settled) << "round " << round << ": a motion waits while a poller sleeps";
    if (!settled) break;
    if (returned.load() < 2) pipes.sender.send(stamped(0, round));  // wakes the poller that had nothing
    const bool both = eventually([&] { return returned.load() == 2; });
    EXPECT_TRUE(both) << "round " << round;
    if (!both) break;
    while (pipes.receiver.try_recv()) {
    }
    // A poller that took the motion just as the waking key arrived hands the
    // key out first and puts the motion back, doorbell rung, for the next poll.
    if (pipes.motion.pending()) {
      EXPECT_TRUE(pipes.motion.take_token()) << "round " << round << ": a motion waits without its doorbell";
      pipes.motion.take();
    }
  }
  pipes.sender.reset();
  go.store(ROUNDS + 2);
  for (auto& t : pollers) t.join();
}

TEST(Channel, SendAfterReceiverIsGoneIsDropped) {
  auto [tx, rx] = queue::channel<int>();
  EXPECT_TRUE(tx.send(1));
  rx.reset();
  EXPECT_FALSE(tx.send(2));
}

TEST(Channel, DroppingTheReceiverDisconnectsRepliesStillQueued) {
  auto [cmd_tx, cmd_rx] = queue::channel<queue::Sender<int>>();
  auto [reply_tx, reply_rx] = queue::channel<int>();
  cmd_tx.send(std::move(reply_tx));
  cmd_rx.reset();
  auto [value, why] = reply_rx.recv(queue::Clock::now() + std::chrono::seconds(5));
  EXPECT_FALSE(value.has_value());
  EXPECT_EQ(why, queue::RecvError::Disconnected);
}

// A send racing the receiver's end: whoever wins, the value is not left in
// a queue nobody reads (a stranded command would keep its reply channel
// open and its caller waiting for the full time-out).
TEST(Channel, ASendRacingTheReceiversEndIsNeverStranded) {
  for (int round = 0; round < 5000; ++round) {
    auto commands = queue::channel<queue::Sender<int>>();
    auto replies = queue::channel<int>();
    std::atomic<int> ready{0};
    std::thread sender([&] {
      ready.fetch_add(1);
      while (ready.load() < 2) std::this_thread::yield();
      commands.first.send(std::move(replies.first));
    });
    ready.fetch_add(1);
    while (ready.load() < 2) std::this_thread::yield();
    commands.second.reset();
    sender.join();
    ASSERT_TRUE(replies.second.senders_gone()) << "round " << round;
  }
}

}  // namespace
}  // namespace kmx
