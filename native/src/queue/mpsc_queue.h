// Unbounded multi-producer queue, after Dmitry Vyukov's intrusive MPSC list.
// push() is one allocation and one atomic exchange: no lock, no wait on the
// consumer. FIFO follows the order of the exchanges, so it holds across
// producers. Consumers serialise on a mutex of their own.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace kmx::queue {

template <class T>
class MpscQueue {
 public:
  MpscQueue() : head_(&stub_), tail_(&stub_) {}
  MpscQueue(const MpscQueue&) = delete;
  MpscQueue& operator=(const MpscQueue&) = delete;

  ~MpscQueue() {
    while (try_pop()) {
    }
  }

  void push(T value) {
    Node* node = new Node(std::move(value));
    push_node(node);
  }

  // Takes the oldest element. A producer caught between its exchange and its
  // link is waited for (a few instructions), so "empty" is never reported
  // while an element that was pushed before this call is still in flight.
  std::optional<T> try_pop() {
    std::lock_guard lock(consumer_mu_);
    for (;;) {
      Node* tail = tail_;
      Node* next = tail->next.load(std::memory_order_acquire);
      if (tail == &stub_) {
        if (next == nullptr) {
          if (head_.load(std::memory_order_acquire) == &stub_) return std::nullopt;
          std::this_thread::yield();
          continue;
        }
        tail_ = next;
        tail = next;
        next = next->next.load(std::memory_order_acquire);
      }
      if (next != nullptr) {
        tail_ = next;
        return take(tail);
      }
      if (tail != head_.load(std::memory_order_acquire)) {
        std::this_thread::yield();  // a push is linking right now
        continue;
      }
      // tail is the last node: put the stub behind it so it can be taken.
      stub_.next.store(nullptr, std::memory_order_relaxed);
      push_node(&stub_);
      next = tail->next.load(std::memory_order_acquire);
      if (next != nullptr) {
        tail_ = next;
        return take(tail);
      }
      std::this_thread::yield();
    }
  }

 private:
  struct Node {
    Node() = default;
    explicit Node(T v) : value(std::move(v)) {}
    std::atomic<Node*> next{nullptr};
    std::optional<T> value;
  };

  void push_node(Node* node) {
    node->next.store(nullptr, std::memory_order_relaxed);
    Node* prev = head_.exchange(node, std::memory_order_acq_rel);
    prev->next.store(node, std::memory_order_release);
  }

  std::optional<T> take(Node* node) {
    std::optional<T> out = std::move(node->value);
    delete node;
    return out;
  }

  std::atomic<Node*> head_;  // producers push here
  Node* tail_;               // consumer side, under consumer_mu_
  Node stub_;
  std::mutex consumer_mu_;
};

}  // namespace kmx::queue
