// A deterministic schedule explorer for the event pipes, in the manner of
// CHESS: the threads of a scenario run one at a time and switch only at an
// operation of ExploreSync (every atomic operation, mutex, sleep, wake and
// yield). Each run follows a recorded prefix of choices, then keeps running
// the current thread; depth-first search then revisits every choice point
// with each other thread, as long as the run stays within a bound of
// preemptions (switches away from a thread that could have gone on).
//
// Only sequentially consistent interleavings are explored: the faults this
// hunts are lost wake-ups and ordering between operations, not reorderings
// of weaker memory orders (ThreadSanitizer covers data races).
//
// Time is virtual and moves only when every thread is blocked: to the
// earliest deadline. When every thread is blocked and none has a deadline,
// the run has deadlocked: a lost wake-up. Its threads are left parked for
// ever (the test fails anyway).
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kmx::explore {

using Clock = std::chrono::steady_clock;

class Scheduler;
inline thread_local Scheduler* tl_scheduler = nullptr;
inline thread_local int tl_thread = -1;

struct Scenario {
  std::vector<std::function<void()>> threads;
  // Evaluated when every thread is blocked and time would move: true when
  // an event or motion is still waiting for a poller (that poller missed it).
  std::function<bool()> something_waits = [] { return false; };
  // After a complete run: empty, or what went wrong.
  std::function<std::string()> check = [] { return std::string(); };
};

class Scheduler {
 public:
  enum class State { Runnable, Blocked, Done };

  Scheduler(std::vector<size_t> prefix, int bound) : prefix_(std::move(prefix)), bound_(bound) {}

  struct Decision {
    std::vector<int> options;  // the default choice first
    size_t chosen;
    int preemptions_before;
    int running;  // the thread that was running, or -1 when it could not go on
  };

  // Runs the scenario once; false when it deadlocked (the scheduler must then be leaked).
  bool run(Scenario& scenario) {
    const int n = static_cast<int>(scenario.threads.size());
    threads_ = std::vector<Thread>(n);
    std::vector<std::thread> os;
    for (int i = 0; i < n; ++i) {
      os.emplace_back([this, i, body = scenario.threads[i]] {
        tl_scheduler = this;
        tl_thread = i;
        {
          std::unique_lock lock(mu_);
          threads_[i].turn.wait(lock, [&] { return current_ == i; });
        }
        body();
        std::unique_lock lock(mu_);
        threads_[i].state = State::Done;
        hand_over(lock, i);
      });
    }
    something_waits_ = scenario.something_waits;
    {
      std::unique_lock lock(mu_);
      hand_over(lock, -1);
      main_cv_.wait(lock, [&] { return finished_; });
    }
    if (deadlocked_) {
      for (auto& t : os) t.detach();
      return false;
    }
    for (auto& t : os) t.join();
    return true;
  }

  // Before every instrumented operation of a managed thread.
  void point(bool yielding = false) {
    std::unique_lock lock(mu_);
    threads_[tl_thread].yielding = yielding;
    hand_over(lock, tl_thread);
    threads_[tl_thread].yielding = false;
  }

  // Sleeps the calling thread on `object` until woken (or the deadline).
  void block(const void* object, std::optional<Clock::time_point> deadline) {
    std::unique_lock lock(mu_);
    Thread& self = threads_[tl_thread];
    self.state = State::Blocked;
    self.object = object;
    self.deadline = deadline;
    hand_over(lock, tl_thread);
  }
  void wake(const void* object, bool all) {
    std::lock_guard lock(mu_);
    for (Thread& t : threads_)
      if (t.state == State::Blocked && t.object == object) {
        t.state = State::Runnable;
        if (!all) return;
      }
  }

  Clock::time_point now() {
    std::lock_guard lock(mu_);
    return now_;
  }
  void fail(std::string why) {
    std::lock_guard lock(mu_);
    if (failure_.empty()) failure_ = std::move(why);
  }
  // The calling thread must not wait from now until cleared (a zero time-out).
  void set_nonblocking(bool on) {
    std::lock_guard lock(mu_);
    threads_[tl_thread].nonblocking = on;
  }
  bool nonblocking() {
    std::lock_guard lock(mu_);
    return threads_[tl_thread].nonblocking;
  }

  const std::string& failure() const { return failure_; }
  const std::vector<Decision>& trace() const { return trace_; }

  // The prefix of the next schedule in depth-first order, or none when all are done.
  std::optional<std::vector<size_t>> next_prefix() const {
    for (size_t i = trace_.size(); i-- > 0;) {
      const Decision& d = trace_[i];
      for (size_t alt = d.chosen + 1; alt < d.options.size(); ++alt) {
        const bool preempts = d.running >= 0 && d.options[alt] != d.running;
        if (d.preemptions_before + (preempts ? 1 : 0) > bound_) continue;
        std::vector<size_t> prefix;
        for (size_t j = 0; j < i; ++j) prefix.push_back(trace_[j].chosen);
        prefix.push_back(alt);
        return prefix;
      }
    }
    return std::nullopt;
  }

 private:
  struct Thread {
    State state = State::Runnable;
    const void* object = nullptr;
    std::optional<Clock::time_point> deadline;
    bool yielding = false;
    bool nonblocking = false;
    std::condition_variable turn;  // signalled when this thread is to run
  };
  static constexpr size_t MAX_STEPS = 20000;

  // Picks the next thread and runs it; returns once `self` runs again (at
  // once when it was picked, never when it is done or the run ended).
  void hand_over(std::unique_lock<std::mutex>& lock, int self) {
    const int next = pick(self);
    if (next < 0) {
      finished_ = true;
      current_ = -1;
      main_cv_.notify_all();
    } else {
      current_ = next;
      if (next != self) threads_[next].turn.notify_one();
    }
    if (self < 0 || threads_[self].state == State::Done) return;
    threads_[self].turn.wait(lock, [&] { return current_ == self; });
  }

  int pick(int self) {
    if (finished_) return -1;
    if (++steps_ > MAX_STEPS) return stop("no progress after " + std::to_string(MAX_STEPS) + " steps (livelock)");
    std::vector<int> enabled;
    for (;;) {
      for (int i = 0; i < static_cast<int>(threads_.size()); ++i)
        if (threads_[i].state == State::Runnable) enabled.push_back(i);
      if (!enabled.empty()) break;
      std::optional<Clock::time_point> earliest;
      bool all_done = true;
      for (const Thread& t : threads_) {
        if (t.state != State::Done) all_done = false;
        if (t.state == State::Blocked && t.deadline && (!earliest || *t.deadline < *earliest)) earliest = t.deadline;
      }
      if (all_done) return -1;
      if (!earliest) {
        deadlocked_ = true;
        return stop("every thread sleeps and none will wake: a lost wake-up");
      }
      if (something_waits_()) return stop("every poller sleeps while an event or motion waits");
      now_ = std::max(now_, *earliest);
      for (Thread& t : threads_)
        if (t.state == State::Blocked && t.deadline && *t.deadline <= now_) t.state = State::Runnable;
    }
    const bool self_goes_on = self >= 0 && threads_[self].state == State::Runnable;
    const bool yielding = self_goes_on && threads_[self].yielding;
    if (yielding) {
      // A spinning thread lets the next one in turn run: not a choice, or
      // every turn of a spin loop would multiply the schedules.
      for (int t : enabled)
        if (t > self) return t;
      return enabled.front();
    }
    std::vector<int> options;
    if (self_goes_on) options.push_back(self);
    for (int t : enabled)
      if (t != self) options.push_back(t);
    if (options.size() == 1) return options[0];
    Decision d{options, 0, preemptions_, self_goes_on ? self : -1};
    if (trace_.size() < prefix_.size()) d.chosen = std::min(prefix_[trace_.size()], options.size() - 1);
    if (d.running >= 0 && options[d.chosen] != d.running) ++preemptions_;
    trace_.push_back(d);
    return options[d.chosen];
  }

  int stop(std::string why) {
    if (failure_.empty()) failure_ = std::move(why);
    if (!deadlocked_) deadlocked_ = true;  // threads are left where they stand
    return -1;
  }

  std::mutex mu_;
  std::condition_variable main_cv_;
  std::vector<Thread> threads_;
  std::vector<size_t> prefix_;
  std::vector<Decision> trace_;
  std::function<bool()> something_waits_;
  std::string failure_;
  Clock::time_point now_ = Clock::time_point{} + std::chrono::hours(1);
  size_t steps_ = 0;
  int bound_;
  int preemptions_ = 0;
  int current_ = -1;
  bool finished_ = false;
  bool deadlocked_ = false;
};

inline void point() {
  if (tl_scheduler) tl_scheduler->point();
}

// std::atomic's interface, each operation a switching point.
template <class T>
class Atomic {
 public:
  Atomic() noexcept : v_() {}
  Atomic(T v) noexcept : v_(v) {}  // NOLINT: as std::atomic
  T load(std::memory_order = std::memory_order_seq_cst) const noexcept {
    point();
    return v_.load();
  }
  void store(T v, std::memory_order = std::memory_order_seq_cst) noexcept {
    point();
    v_.store(v);
  }
  T exchange(T v, std::memory_order = std::memory_order_seq_cst) noexcept {
    point();
    return v_.exchange(v);
  }
  bool compare_exchange_strong(T& expected, T desired, std::memory_order = std::memory_order_seq_cst,
                               std::memory_order = std::memory_order_seq_cst) noexcept {
    point();
    return v_.compare_exchange_strong(expected, desired);
  }
  bool compare_exchange_weak(T& expected, T desired, std::memory_order = std::memory_order_seq_cst,
                             std::memory_order = std::memory_order_seq_cst) noexcept {
    return compare_exchange_strong(expected, desired);
  }
  T fetch_add(T d, std::memory_order = std::memory_order_seq_cst) noexcept {
    point();
    return v_.fetch_add(d);
  }
  T fetch_sub(T d, std::memory_order = std::memory_order_seq_cst) noexcept {
    point();
    return v_.fetch_sub(d);
  }
  T raw() const noexcept { return v_.load(); }

 private:
  std::atomic<T> v_;
};

// The policy the pipes are instantiated with under exploration.
struct ExploreSync {
  template <class T>
  using Atomic = explore::Atomic<T>;
  using Clock = explore::Clock;

  class Mutex {
   public:
    void lock() {
      for (;;) {
        point();
        if (!held_) {
          held_ = true;
          return;
        }
        tl_scheduler->block(this, std::nullopt);
      }
    }
    void unlock() {
      point();
      held_ = false;
      if (tl_scheduler) tl_scheduler->wake(this, true);
    }

   private:
    bool held_ = false;
  };

  static Clock::time_point now() noexcept {
    return tl_scheduler ? tl_scheduler->now() : Clock::time_point{} + std::chrono::hours(1);
  }
  static void yield() noexcept {
    if (!tl_scheduler) return;
    if (tl_scheduler->nonblocking()) tl_scheduler->fail("a zero time-out poll waited for another thread");
    tl_scheduler->point(true);
  }
  static void wait_on_word(const Atomic<uint32_t>& word, uint32_t expected,
                           std::optional<Clock::time_point> deadline) noexcept {
    point();
    if (!tl_scheduler || word.raw() != expected) return;
    if (tl_scheduler->nonblocking()) tl_scheduler->fail("a zero time-out poll went to sleep");
    tl_scheduler->block(&word, deadline);
  }
  static void wake_word(const Atomic<uint32_t>& word, bool all) noexcept {
    point();
    if (tl_scheduler) tl_scheduler->wake(&word, all);
  }
};

struct Outcome {
  size_t schedules = 0;
  std::string failure;  // empty: every schedule passed
};

// Runs make()'s scenario under every schedule within `bound` preemptions,
// stopping at the first failure or after max_schedules.
inline Outcome explore(const std::function<Scenario()>& make, int bound, size_t max_schedules = 200000) {
  Outcome out;
  std::vector<size_t> prefix;
  for (;;) {
    ++out.schedules;
    Scenario scenario = make();
    auto* scheduler = new Scheduler(prefix, bound);
    const bool completed = scheduler->run(scenario);
    std::string why = scheduler->failure();
    if (why.empty() && completed) why = scenario.check();
    if (!why.empty()) {
      std::string path;
      for (const auto& d : scheduler->trace()) path += std::to_string(d.options[d.chosen]);
      out.failure = why + " (threads in turn at each choice: " + path + ")";
      if (completed) delete scheduler;  // a stuck run's threads still use it
      return out;
    }
    auto next = scheduler->next_prefix();
    delete scheduler;
    if (!next || out.schedules >= max_schedules) return out;
    prefix = std::move(*next);
  }
}

}  // namespace kmx::explore
