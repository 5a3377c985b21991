// The event pipes (queue, eventcount, motion slot, poll loop) under every
// interleaving of their atomic operations within a preemption bound. After
// each run: nobody sleeps while something waits for them, every event is
// taken exactly once and in each producer's order, a motion never comes
// after an event pushed after it was stored, the newest motion is taken
// before the end, and CLOSED is final.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "model/event.h"
#include "runtime/poll_loop.h"
#include "schedule_explorer.h"

namespace kmx {
namespace {

using explore::ExploreSync;
using Sender = queue::BasicSender<KmxEvent, ExploreSync>;
using Receiver = queue::BasicReceiver<KmxEvent, ExploreSync>;
using Motion = platform::BasicMotionChannel<ExploreSync>;

constexpr uint32_t FOREVER = 0xFFFFFFFF;

enum class Op { Send, Store };

struct World {
  World() : World(queue::channel<KmxEvent, ExploreSync>()) {}
  explicit World(std::pair<Sender, Receiver> ends)
      : tx(std::move(ends.first)), rx(std::move(ends.second)), motion(rx.state()) {}
  Sender tx;
  Receiver rx;
  Motion motion;
  std::vector<Sender> producer_tx;  // one each; a copy in a closure would keep the queue open

  // Bookkeeping outside the instrumented operations; one thread runs at a time.
  int tick = 0;
  std::map<std::pair<uint32_t, uint32_t>, int> send_began;  // (producer, seq) -> tick
  std::map<int, int> store_returned;                       // motion number -> tick
  int events_sent = 0;
  int events_taken = 0;
  int newest_stored = 0;  // motion numbers start at 1
  int newest_taken = 0;
  std::vector<std::vector<KmxEvent>> seen;
  std::vector<std::string> endings;
};

struct Setup {
  std::vector<std::vector<Op>> producers;
  std::vector<uint32_t> poller_timeouts;
};

KmxEvent stamped(uint32_t producer, uint32_t seq) {
  KmxEvent e = model::key_event(0, producer, true, 0);
  e.shortcut_id = seq;
  return e;
}

void produce(World& w, uint32_t who, const std::vector<Op>& ops) {
  Sender& tx = w.producer_tx[who];
  uint32_t seq = 0;
  for (Op op : ops) {
    if (op == Op::Send) {
      w.send_began[{who, seq}] = ++w.tick;
      tx.send(stamped(who, seq++));
      ++w.events_sent;
    } else {
      const int number = static_cast<int>(w.store_returned.size()) + 1;
      w.motion.store(model::motion_event(number, 0, 0));
      w.store_returned[number] = ++w.tick;
      w.newest_stored = std::max(w.newest_stored, number);
    }
  }
  tx.reset();  // a backend's thread ending
}

uint32_t poll(World& w, KmxEvent* e, uint32_t timeout_ms) {
  if (timeout_ms == 0) explore::tl_scheduler->set_nonblocking(true);
  const uint32_t status = runtime::basic_poll_event<ExploreSync>(w.rx, w.motion, e, timeout_ms);
  if (timeout_ms == 0) explore::tl_scheduler->set_nonblocking(false);
  return status;
}

void consume(World& w, size_t who, uint32_t timeout_ms) {
  for (;;) {
    KmxEvent e;
    const uint32_t status = poll(w, &e, timeout_ms);
    if (status == KMX_OK) {
      w.seen[who].push_back(e);
      if (e.kind == KMX_EVENT_MOTION)
        w.newest_taken = std::max(w.newest_taken, static_cast<int>(e.x));
      else
        ++w.events_taken;
    } else if (status == KMX_ERR_CLOSED) {
      const uint32_t again = poll(w, &e, 0);
      w.endings[who] = again == KMX_ERR_CLOSED ? "" : "a poll after CLOSED returned " + std::to_string(again);
      return;
    } else if (timeout_ms != FOREVER) {
      ExploreSync::yield();  // let the others on before polling again
    } else {
      w.endings[who] = "an unlimited poll returned " + std::to_string(status);
      return;
    }
  }
}

std::string check(const World& w) {
  for (const std::string& ending : w.endings)
    if (ending != "") return ending;
  std::map<std::pair<uint32_t, uint32_t>, int> taken;
  for (const auto& list : w.seen) {
    std::map<uint32_t, int64_t> last_seq;
    int last_motion = 0;
    for (size_t i = 0; i < list.size(); ++i) {
      const KmxEvent& e = list[i];
      if (e.kind == KMX_EVENT_MOTION) {
        const int number = static_cast<int>(e.x);
        if (number <= last_motion) return "a motion went back";
        last_motion = number;
        for (size_t j = 0; j < i; ++j)
          if (list[j].kind != KMX_EVENT_MOTION &&
              w.send_began.at({list[j].native_code, static_cast<uint32_t>(list[j].shortcut_id)}) >
                  w.store_returned.at(number))
            return "motion " + std::to_string(number) + " came after an event pushed after it";
        continue;
      }
      const auto seq = static_cast<int64_t>(e.shortcut_id);
      auto [at, fresh] = last_seq.emplace(e.native_code, seq);
      if (!fresh && seq <= at->second) return "a producer's events came out of order";
      at->second = seq;
      ++taken[{e.native_code, static_cast<uint32_t>(seq)}];
    }
  }
  for (const auto& [key, tick] : w.send_began)
    if (taken[key] != 1) return "an event was taken " + std::to_string(taken[key]) + " times";
  if (w.newest_taken != w.newest_stored) return "the newest motion was never taken";
  return "";
}

explore::Outcome explore_setup(const Setup& s, int bound) {
  return explore::explore(
      [&s] {
        auto w = std::make_shared<World>();
        w->seen.resize(s.poller_timeouts.size());
        w->endings.resize(s.poller_timeouts.size(), "never ended");
        explore::Scenario scenario;
        for (size_t p = 0; p < s.producers.size(); ++p) {
          w->producer_tx.push_back(w->tx);
          scenario.threads.push_back([w, p, ops = s.producers[p]] { produce(*w, static_cast<uint32_t>(p), ops); });
        }
        for (size_t k = 0; k < s.poller_timeouts.size(); ++k)
          scenario.threads.push_back([w, k, t = s.poller_timeouts[k]] { consume(*w, k, t); });
        w->tx.reset();  // only the producers' copies keep the queue open
        scenario.something_waits = [w] { return w->events_sent > w->events_taken || w->newest_stored > w->newest_taken; };
        scenario.check = [w] { return check(*w); };
        return scenario;
      },
      bound);
}

void expect_every_schedule_passes(const Setup& s, int bound) {
  const explore::Outcome out = explore_setup(s, bound);
  EXPECT_EQ(out.failure, "") << "after " << out.schedules << " schedules";
  std::printf("%zu schedules\n", out.schedules);
}

TEST(PipeInterleavings, OneProducerOnePollerWithoutTimeOut) {
  expect_every_schedule_passes({{{Op::Send}}, {FOREVER}}, 3);
}

TEST(PipeInterleavings, AZeroTimeOutPollerBesideASleepingOne) {
  expect_every_schedule_passes({{{Op::Send}}, {FOREVER, 0}}, 1);
}

TEST(PipeInterleavings, TwoProducersKeepTheirOrders) {
  expect_every_schedule_passes({{{Op::Send, Op::Send}, {Op::Send}}, {FOREVER}}, 1);
}

TEST(PipeInterleavings, AMotionLeftAsTheLastSenderGoes) {
  expect_every_schedule_passes({{{Op::Send, Op::Store}}, {FOREVER}}, 2);
}

TEST(PipeInterleavings, AMotionStoredBeforeTheReleaseGoesFirst) {
  expect_every_schedule_passes({{{Op::Store, Op::Send}}, {5}}, 2);
}

// Motion comes from one thread (a backend's), so its samples only move forward.
TEST(PipeInterleavings, TwoPollersAndTwoMotions) {
  expect_every_schedule_passes({{{Op::Store, Op::Store}}, {FOREVER, FOREVER}}, 1);
}

TEST(PipeInterleavings, AZeroTimeOutNeverWaitsForAWriter) {
  expect_every_schedule_passes({{{Op::Send}}, {0}}, 2);
}

}  // namespace
}  // namespace kmx
