// The event pipes beside two well-known lock-free queues, in one process and
// alternating round by round so that machine noise falls on all alike. Each
// peer carries the same 56-byte record and gets the same condition-variable
// wake, which notifies only when a consumer sleeps. Prints
// "FIGURE_QUEUE: value unit" per queue, then "FIGURE_ratio: value", the
// library against the best peer (at or below 1.0: the library is ahead).
#include <keymux/keymux.h>

#include <algorithm>
#include <atomic>
#include <boost/lockfree/queue.hpp>
#include <chrono>
#include <concurrentqueue/concurrentqueue.h>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "model/event.h"
#include "platform/backend.h"
#include "runtime/poll.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRounds = 5;
constexpr int kBatch = 1000;
constexpr int kBatchesPerRound = 400;         // 2,000 batches in all
constexpr int kWakeSamplesPerRound = 4000;    // 20,000 samples in all
constexpr int kThroughputEvents = 1'000'000;  // per round, split among producers
constexpr auto kWakePeriod = std::chrono::microseconds(200);
constexpr auto kWakeMinGap = std::chrono::microseconds(100);

uint64_t now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// Nearest rank: the smallest value with at least p of the samples at or below it.
double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t rank = static_cast<size_t>(p * static_cast<double>(v.size()) + 0.999999);
  rank = std::clamp<size_t>(rank, 1, v.size());
  return v[rank - 1];
}

double median(std::vector<double> v) { return percentile(std::move(v), 0.5); }

KmxEvent marker() { return kmx::model::hotkey_event(0, true); }  // ends a consumer loop

// One queue under test: copyable producer handles, a blocking take.
class Pipe {
 public:
  virtual ~Pipe() = default;
  // A producing end for one thread; called before that thread starts.
  virtual std::function<void(const KmxEvent&)> producer() = 0;
  virtual void take(KmxEvent* out) = 0;  // waits without a time-out
};

class KeymuxPipe : public Pipe {
 public:
  std::function<void(const KmxEvent&)> producer() override {
    return [tx = pipes_.sender](const KmxEvent& e) { tx.send(e); };
  }
  void take(KmxEvent* out) override { kmx::runtime::poll_event(pipes_.receiver, pipes_.motion, out, 0xFFFFFFFF); }
  void store_motion(const KmxEvent& e) { pipes_.motion.store(e); }

 private:
  kmx::platform::EventPipes pipes_ = kmx::platform::make_event_pipes();
};

// A sleeping consumer is counted; producers lock and notify only then.
class CvWake {
 public:
  void notify() {
    std::atomic_thread_fence(std::memory_order_seq_cst);  // the push before the count read
    if (sleepers_.load(std::memory_order_relaxed) == 0) return;
    { std::lock_guard lock(mu_); }
    cv_.notify_one();
  }
  template <class TryTake>
  void wait(TryTake try_take) {
    std::unique_lock lock(mu_);
    sleepers_.fetch_add(1, std::memory_order_seq_cst);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    while (!try_take()) cv_.wait(lock);
    sleepers_.fetch_sub(1, std::memory_order_relaxed);
  }

 private:
  std::atomic<int> sleepers_{0};
  std::mutex mu_;
  std::condition_variable cv_;
};

class MoodycamelPipe : public Pipe {
 public:
  std::function<void(const KmxEvent&)> producer() override {
    auto token = std::make_shared<moodycamel::ProducerToken>(q_);
    return [this, token](const KmxEvent& e) {
      q_.enqueue(*token, e);
      wake_.notify();
    };
  }
  void take(KmxEvent* out) override {
    if (q_.try_dequeue(consumer_, *out)) return;
    wake_.wait([&] { return q_.try_dequeue(consumer_, *out); });
  }

 private:
  moodycamel::ConcurrentQueue<KmxEvent> q_;
  moodycamel::ConsumerToken consumer_{q_};
  CvWake wake_;
};

class BoostPipe : public Pipe {
 public:
  std::function<void(const KmxEvent&)> producer() override {
    return [this](const KmxEvent& e) {
      q_.push(e);
      wake_.notify();
    };
  }
  void take(KmxEvent* out) override {
    if (q_.pop(*out)) return;
    wake_.wait([&] { return q_.pop(*out); });
  }

 private:
  boost::lockfree::queue<KmxEvent> q_{4096};
  CvWake wake_;
};

// Paced sends: a batch, then (untimed) wait until the consumer drained it.
std::vector<double> send_cost(Pipe& pipe) {
  std::atomic<uint64_t> taken{0};
  auto send = pipe.producer();
  std::thread consumer([&] {
    KmxEvent e;
    for (uint64_t n = 1;; ++n) {
      pipe.take(&e);
      if (e.kind == KMX_EVENT_HOTKEY) return;
      taken.store(n, std::memory_order_release);
    }
  });
  const KmxEvent ev = kmx::model::key_event(0, 0x41, true, 0);
  std::vector<double> per_event;
  uint64_t sent = 0;
  for (int b = 0; b < kBatchesPerRound; ++b) {
    const auto t0 = Clock::now();
    for (int i = 0; i < kBatch; ++i) send(ev);
    const auto t1 = Clock::now();
    sent += kBatch;
    per_event.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count() / kBatch);
    while (taken.load(std::memory_order_acquire) < sent) std::this_thread::yield();
  }
  send(marker());
  consumer.join();
  return per_event;
}

// Events per second from `producers` threads through the blocking take.
double throughput(Pipe& pipe, int producers) {
  const int per = kThroughputEvents / producers;
  std::vector<std::function<void(const KmxEvent&)>> sends;
  for (int p = 0; p < producers; ++p) sends.push_back(pipe.producer());
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int p = 0; p < producers; ++p) {
    threads.emplace_back([&, p] {
      const KmxEvent ev = kmx::model::key_event(0, 0x41, true, 0);
      while (!go.load(std::memory_order_acquire)) std::this_thread::yield();
      for (int i = 0; i < per; ++i) sends[p](ev);
    });
  }
  KmxEvent e;
  const auto t0 = Clock::now();
  go.store(true, std::memory_order_release);
  for (long n = 0; n < static_cast<long>(per) * producers; ++n) pipe.take(&e);
  const double secs = std::chrono::duration<double>(Clock::now() - t0).count();
  for (auto& t : threads) t.join();
  return static_cast<double>(per) * producers / secs;
}

// A consumer blocked without a time-out; one event every 200 us on an
// absolute schedule, never two closer than 100 us. The send time travels in
// the event; `store` sends either through the queue or the motion slot.
std::vector<double> wake_latency(Pipe& pipe, const std::function<void(const KmxEvent&)>& store, bool motion) {
  std::vector<double> lat;
  lat.reserve(kWakeSamplesPerRound);
  std::thread consumer([&] {
    KmxEvent e;
    for (;;) {
      pipe.take(&e);
      const uint64_t t = now_ns();
      if (e.kind == KMX_EVENT_HOTKEY) return;
      lat.push_back(static_cast<double>(t - e.timestamp_us));
    }
  });
  auto send = pipe.producer();
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  auto next = Clock::now();
  auto last = next - kWakeMinGap;
  for (int i = 0; i < kWakeSamplesPerRound; ++i) {
    next += kWakePeriod;
    std::this_thread::sleep_until(std::max(next, last + kWakeMinGap));
    KmxEvent ev = motion ? kmx::model::motion_event(i, i, 0) : kmx::model::key_event(0, 0x41, true, 0);
    last = Clock::now();
    ev.timestamp_us = now_ns();
    store(ev);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  send(marker());
  consumer.join();
  return lat;
}

struct Results {
  std::vector<double> send, wake, motion, tp1, tp4;
};

const char* const kNames[] = {"keymux", "moodycamel", "boost"};

std::unique_ptr<Pipe> make_pipe(int q) {
  if (q == 0) return std::make_unique<KeymuxPipe>();
  if (q == 1) return std::make_unique<MoodycamelPipe>();
  return std::make_unique<BoostPipe>();
}

void append(std::vector<double>& to, const std::vector<double>& from) { to.insert(to.end(), from.begin(), from.end()); }

// Lower is better for costs; for throughput the ratio is inverted.
void print_figure(const char* figure, const char* unit, const double v[3], bool higher_is_better) {
  for (int q = 0; q < 3; ++q) std::printf("%s_%s: %.1f %s\n", figure, kNames[q], v[q], unit);
  const double best_peer = higher_is_better ? std::max(v[1], v[2]) : std::min(v[1], v[2]);
  const double ratio = higher_is_better ? best_peer / v[0] : v[0] / best_peer;
  std::printf("%s_ratio: %.3f\n", figure, ratio);
}

}  // namespace

int main() {
  Results r[3];
  for (int round = 0; round < kRounds; ++round) {
    for (int k = 0; k < 3; ++k) {
      const int q = (round + k) % 3;  // rotate who goes first
      {
        auto pipe = make_pipe(q);
        append(r[q].send, send_cost(*pipe));
        pipe = make_pipe(q);
        r[q].tp1.push_back(throughput(*pipe, 1));
        pipe = make_pipe(q);
        r[q].tp4.push_back(throughput(*pipe, 4));
      }
      {
        auto pipe = make_pipe(q);
        append(r[q].wake, wake_latency(*pipe, pipe->producer(), false));
      }
      if (q == 0) {
        KeymuxPipe pipe;
        append(r[q].motion, wake_latency(
                                pipe, [&](const KmxEvent& e) { pipe.store_motion(e); }, true));
      }
    }
  }
  double v[3];
  for (int q = 0; q < 3; ++q) v[q] = median(r[q].send);
  print_figure("send_cost_median", "ns/event", v, false);
  for (int q = 0; q < 3; ++q) v[q] = percentile(r[q].send, 0.99);
  print_figure("send_cost_p99", "ns/event", v, false);
  for (int q = 0; q < 3; ++q) v[q] = median(r[q].tp1);
  print_figure("throughput_1p1c", "events/s", v, true);
  for (int q = 0; q < 3; ++q) v[q] = median(r[q].tp4);
  print_figure("throughput_4p1c", "events/s", v, true);
  for (int q = 0; q < 3; ++q) v[q] = percentile(r[q].wake, 0.5);
  print_figure("wake_latency_p50", "ns", v, false);
  for (int q = 0; q < 3; ++q) v[q] = percentile(r[q].wake, 0.99);
  print_figure("wake_latency_p99", "ns", v, false);
  for (int q = 0; q < 3; ++q) v[q] = percentile(r[q].wake, 1.0);
  print_figure("wake_latency_max", "ns", v, false);
  std::printf("motion_latency_p50_keymux: %.1f ns\n", percentile(r[0].motion, 0.5));
  std::printf("motion_latency_p99_keymux: %.1f ns\n", percentile(r[0].motion, 0.99));
  std::printf("motion_latency_max_keymux: %.1f ns\n", percentile(r[0].motion, 1.0));
  std::printf("motion_samples_keymux: %zu of %d\n", r[0].motion.size(), kRounds * kWakeSamplesPerRound);
  return 0;
}
