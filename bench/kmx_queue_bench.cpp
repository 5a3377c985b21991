// Measures the event queue the way hosts load it: the cost of a push while a
// consumer drains, throughput through the poll path, and how fast a blocked
// poller wakes for an event and for a motion. Each figure is the median of
// three runs; prints one "name: value unit" line per figure.
#include <keymux/keymux.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "model/event.h"
#include "platform/backend.h"
#include "runtime/poll.h"

namespace {

using Clock = std::chrono::steady_clock;
using kmx::platform::EventPipes;

uint64_t now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5));
  return v[i];
}

double median3(double a, double b, double c) { return std::max(std::min(a, b), std::min(std::max(a, b), c)); }

struct SendCost {
  double median, p99;
};

// Pushes in batches of 1000 while a consumer drains; per-op cost of each batch.
SendCost send_cost() {
  EventPipes pipes = kmx::platform::make_event_pipes();
  std::atomic<bool> done{false};
  std::thread consumer([&] {
    KmxEvent e;
    while (!done.load(std::memory_order_relaxed)) kmx::runtime::poll_event(pipes.receiver, pipes.motion, &e, 1);
    while (kmx::runtime::poll_event(pipes.receiver, pipes.motion, &e, 0) == KMX_OK) {
    }
  });
  const KmxEvent ev = kmx::model::key_event(0, 0x41, true, 0);
  std::vector<double> per_op;
  for (int batch = 0; batch < 2000; ++batch) {
    const auto t0 = Clock::now();
    for (int i = 0; i < 1000; ++i) pipes.sender.send(ev);
    const auto t1 = Clock::now();
    per_op.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count() / 1000.0);
  }
  done = true;
  consumer.join();
  return {percentile(per_op, 0.5), percentile(per_op, 0.99)};
}

// events/s from `producers` threads to one consumer on the poll path.
double throughput(int producers) {
  constexpr int kPerProducer = 1'000'000;
  EventPipes pipes = kmx::platform::make_event_pipes();
  const auto t0 = Clock::now();
  std::vector<std::thread> threads;
  for (int p = 0; p < producers; ++p) {
    threads.emplace_back([sender = pipes.sender] {
      const KmxEvent ev = kmx::model::key_event(0, 0x41, true, 0);
      for (int i = 0; i < kPerProducer; ++i) sender.send(ev);
    });
  }
  pipes.sender.reset();
  KmxEvent e;
  long received = 0;
  while (kmx::runtime::poll_event(pipes.receiver, pipes.motion, &e, 0xFFFFFFFF) == KMX_OK) ++received;
  const double secs = std::chrono::duration<double>(Clock::now() - t0).count();
  for (auto& t : threads) t.join();
  return static_cast<double>(received) / secs;
}

// A poller blocked without a time-out; one event (or motion) every ~200 us,
// the send time travelling in the event. Motions that arrive faster than the
// poller takes them coalesce, so the poller stops on a final marker.
std::vector<double> wake_latency(bool motion) {
  constexpr int kSamples = 20000;
  EventPipes pipes = kmx::platform::make_event_pipes();
  std::vector<double> lat;
  lat.reserve(kSamples);
  std::thread poller([&] {
    KmxEvent e;
    while (kmx::runtime::poll_event(pipes.receiver, pipes.motion, &e, 0xFFFFFFFF) == KMX_OK) {
      if (e.kind == KMX_EVENT_HOTKEY) return;  // end marker
      lat.push_back(static_cast<double>(now_ns() - e.timestamp_us));
    }
  });
  for (int i = 0; i < kSamples; ++i) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    KmxEvent ev = motion ? kmx::model::motion_event(i, i, 0) : kmx::model::key_event(0, 0x41, true, 0);
    ev.timestamp_us = now_ns();
    if (motion) {
      pipes.motion.store(ev);
    } else {
      pipes.sender.send(ev);
    }
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  pipes.sender.send(kmx::model::hotkey_event(0, true));
  poller.join();
  if (!motion && lat.size() != kSamples) std::fprintf(stderr, "lost events: %zu of %d\n", lat.size(), kSamples);
  return lat;
}

}  // namespace

int main() {
  SendCost s[3];
  double t1[3], t4[3], w50[3], w99[3], wmax[3], m50[3], m99[3];
  for (int r = 0; r < 3; ++r) {
    s[r] = send_cost();
    t1[r] = throughput(1);
    t4[r] = throughput(4);
    const auto w = wake_latency(false);
    w50[r] = percentile(w, 0.5);
    w99[r] = percentile(w, 0.99);
    wmax[r] = percentile(w, 1.0);
    const auto m = wake_latency(true);
    m50[r] = percentile(m, 0.5);
    m99[r] = percentile(m, 0.99);
  }
  std::printf("send_cost_median: %.1f ns/op\n", median3(s[0].median, s[1].median, s[2].median));
  std::printf("send_cost_p99: %.1f ns/op\n", median3(s[0].p99, s[1].p99, s[2].p99));
  std::printf("throughput_1p1c: %.0f events/s\n", median3(t1[0], t1[1], t1[2]));
  std::printf("throughput_4p1c: %.0f events/s\n", median3(t4[0], t4[1], t4[2]));
  std::printf("wake_latency_p50: %.0f ns\n", median3(w50[0], w50[1], w50[2]));
  std::printf("wake_latency_p99: %.0f ns\n", median3(w99[0], w99[1], w99[2]));
  std::printf("wake_latency_max: %.0f ns\n", median3(wmax[0], wmax[1], wmax[2]));
  std::printf("motion_latency_p50: %.0f ns\n", median3(m50[0], m50[1], m50[2]));
  std::printf("motion_latency_p99: %.0f ns\n", median3(m99[0], m99[1], m99[2]));
  return 0;
}
