// Channels over MpscQueue: copyable senders, one receiving end that several
// threads may take from. Every queue of the library is one of these: the
// event queue, the command queue, replies (one message each) and the
// Windows hot-key edge queue.
//
// send() never blocks and never takes a lock unless a receiver is asleep
// (then the eventcount's mutex, briefly). A send after the receiver is gone
// drops the value. The channel is disconnected once every sender is gone.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <utility>

#include "queue/event_count.h"
#include "queue/mpsc_queue.h"

namespace kmx::queue {

using Clock = std::chrono::steady_clock;
using Deadline = std::optional<Clock::time_point>;  // none: wait forever

// Deadline for a millisecond time-out, 0xFFFFFFFF meaning forever.
template <class Sync = StdSync>
Deadline deadline_after_ms(uint32_t timeout_ms) {
  if (timeout_ms == 0xFFFFFFFFu) return std::nullopt;
  return Sync::now() + std::chrono::milliseconds(timeout_ms);
}

template <class T, class Sync = StdSync>
struct ChannelState {
  explicit ChannelState(std::shared_ptr<BasicEventCount<Sync>> n) : notifier(std::move(n)) {}
  MpscQueue<T, Sync> queue;
  typename Sync::template Atomic<size_t> senders{1};
  typename Sync::template Atomic<bool> receiver_alive{true};
  std::shared_ptr<BasicEventCount<Sync>> notifier;
};

template <class T, class Sync>
class BasicSender {
  using State = ChannelState<T, Sync>;

 public:
  BasicSender() = default;
  explicit BasicSender(std::shared_ptr<State> s) : s_(std::move(s)) {}
  BasicSender(const BasicSender& o) : s_(o.s_) {
    if (s_) s_->senders.fetch_add(1, std::memory_order_relaxed);
  }
  BasicSender(BasicSender&& o) noexcept : s_(std::move(o.s_)) {}
  BasicSender& operator=(BasicSender o) noexcept {
    std::swap(s_, o.s_);
    return *this;
  }
  ~BasicSender() { reset(); }

  // False when the receiver is gone (the value is dropped) or the sender is empty.
  bool send(T value) const {
    if (!s_ || !s_->receiver_alive.load(std::memory_order_acquire)) return false;
    s_->queue.push(std::move(value));
    // The receiver may have gone, and drained, between the check and the
    // push: the value would then wait for a reader that never comes (a
    // command's reply channel with it). Either the receiver's drain sees
    // the value or this load sees the receiver gone (see reset()).
    if (!s_->receiver_alive.load(std::memory_order_seq_cst)) {
      while (s_->queue.try_pop()) {
      }
      return false;
    }
    s_->notifier->notify();
    return true;
  }

  void reset() noexcept {
    if (!s_) return;
    if (s_->senders.fetch_sub(1, std::memory_order_seq_cst) == 1) s_->notifier->notify();
    s_.reset();
  }

  explicit operator bool() const noexcept { return s_ != nullptr; }

 private:
  std::shared_ptr<State> s_;
};

enum class RecvError { Timeout, Disconnected };

template <class T, class Sync>
class BasicReceiver {
  using State = ChannelState<T, Sync>;

 public:
  BasicReceiver() = default;
  explicit BasicReceiver(std::shared_ptr<State> s) : s_(std::move(s)) {}
  BasicReceiver(BasicReceiver&&) noexcept = default;
  BasicReceiver& operator=(BasicReceiver&& o) noexcept {
    reset();
    s_ = std::move(o.s_);
    return *this;
  }
  BasicReceiver(const BasicReceiver&) = delete;
  BasicReceiver& operator=(const BasicReceiver&) = delete;
  ~BasicReceiver() { reset(); }

  std::optional<T> try_recv() const { return s_->queue.try_pop(); }

  // Every sender is gone; nothing more can arrive (queued values may remain).
  bool senders_gone() const noexcept { return s_->senders.load(std::memory_order_seq_cst) == 0; }

  // Waits for a value until the deadline. Disconnected only once the queue
  // is drained and every sender is gone.
  std::pair<std::optional<T>, RecvError> recv(Deadline deadline) const {
    for (;;) {
      if (auto v = try_recv()) return {std::move(v), RecvError::Timeout};
      if (senders_gone()) {
        if (auto v = try_recv()) return {std::move(v), RecvError::Timeout};
        return {std::nullopt, RecvError::Disconnected};
      }
      if (deadline && Sync::now() >= *deadline) return {std::nullopt, RecvError::Timeout};
      BasicEventCount<Sync>& ec = *s_->notifier;
      const uint64_t key = ec.prepare_wait();
      if (auto v = try_recv()) {
        ec.cancel_wait();
        return {std::move(v), RecvError::Timeout};
      }
      if (senders_gone()) {
        ec.cancel_wait();
        continue;
      }
      if (!ec.wait(key, deadline)) {
        if (auto v = try_recv()) return {std::move(v), RecvError::Timeout};
        return {std::nullopt, senders_gone() ? RecvError::Disconnected : RecvError::Timeout};
      }
    }
  }

  BasicEventCount<Sync>& notifier() const noexcept { return *s_->notifier; }
  // The shared state, for pipes that order themselves against this queue.
  const std::shared_ptr<State>& state() const noexcept { return s_; }
  explicit operator bool() const noexcept { return s_ != nullptr; }

  // Later sends are dropped; values still queued are dropped now, so that a
  // reply channel travelling inside a queued command disconnects at once.
  void reset() noexcept {
    if (!s_) return;
    // Pairs with the re-check in send(): this store and the drain's seq_cst
    // read of the queue's tail against the push's seq_cst claim and that
    // re-check (Dekker), so one of the two sides always sees the value.
    s_->receiver_alive.store(false, std::memory_order_seq_cst);
    while (s_->queue.try_pop()) {
    }
    s_.reset();
  }

 private:
  std::shared_ptr<State> s_;
};

template <class T>
using Sender = BasicSender<T, StdSync>;
template <class T>
using Receiver = BasicReceiver<T, StdSync>;

// A new channel. Channels that a consumer waits on together share one notifier.
template <class T, class Sync = StdSync>
std::pair<BasicSender<T, Sync>, BasicReceiver<T, Sync>> channel(
    std::shared_ptr<BasicEventCount<Sync>> notifier = std::make_shared<BasicEventCount<Sync>>()) {
  auto state = std::make_shared<ChannelState<T, Sync>>(std::move(notifier));
  return {BasicSender<T, Sync>(state), BasicReceiver<T, Sync>(state)};
}

}  // namespace kmx::queue
