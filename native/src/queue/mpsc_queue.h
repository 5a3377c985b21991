// Unbounded multi-producer queue made of blocks of slots. A push claims the
// next slot with one compare-and-swap on the tail index and writes it: no
// lock, no wait on the consumer, one allocation per block rather than per
// element. FIFO follows the order of the claims, so it holds across
// producers. Consumers serialise on a mutex of their own.
//
// Index layout: position << 1. Position % LAP == BLOCK_CAP is the sentinel
// of a block's end: the producer that claims the last slot installs the next
// block and moves the tail past the sentinel; others wait for it briefly.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <new>
#include <optional>
#include <utility>

#include "queue/sync.h"

namespace kmx::queue {

template <class T, class Sync = StdSync>
class MpscQueue {
  template <class U>
  using Atomic = typename Sync::template Atomic<U>;

 public:
  MpscQueue() {
    Block* first = new Block();
    head_block_ = first;
    tail_block_.store(first, std::memory_order_relaxed);
  }
  MpscQueue(const MpscQueue&) = delete;
  MpscQueue& operator=(const MpscQueue&) = delete;

  ~MpscQueue() {
    while (try_pop()) {
    }
    delete head_block_;
    for (Atomic<Block*>& spare : spares_) delete spare.load(std::memory_order_acquire);
  }

// HACK: gcc 12 reports the moved-from slot of variant<...> (and its optional) as
// "maybe uninitialized" once push or try_pop is inlined (a known false positive).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
  void push(const T& value) { push(T(value)); }
  void push(T&& value) {
    Block* next_block = nullptr;
    uint64_t tail = tail_index_.load(std::memory_order_acquire);
    Block* block = tail_block_.load(std::memory_order_acquire);
    for (unsigned spins = 0;; ++spins) {
      const size_t offset = static_cast<size_t>((tail >> SHIFT) % LAP);
      if (offset == BLOCK_CAP) {
        // Another producer is installing the next block.
        backoff(spins);
        tail = tail_index_.load(std::memory_order_acquire);
        block = tail_block_.load(std::memory_order_acquire);
        continue;
      }
      if (offset + 1 == BLOCK_CAP && next_block == nullptr) next_block = fresh_block();

      const uint64_t new_tail = tail + (1u << SHIFT);
      if (tail_index_.compare_exchange_weak(tail, new_tail, std::memory_order_seq_cst, std::memory_order_acquire)) {
        if (offset + 1 == BLOCK_CAP) {
          tail_block_.store(next_block, std::memory_order_release);
          tail_index_.store(new_tail + (1u << SHIFT), std::memory_order_release);
          block->next.store(next_block, std::memory_order_release);
          next_block = nullptr;
        }
        Slot& slot = block->slots[offset];
        ::new (static_cast<void*>(slot.storage)) T(std::move(value));
        slot.written.store(true, std::memory_order_release);
        if (next_block) recycle(next_block);  // taken for a block end another producer reached first
        return;
      }
      block = tail_block_.load(std::memory_order_acquire);
    }
  }

  // Positions count claims: the element pushed by the n-th claim sits at a
  // position below the one claimed() returns after that claim.
  static constexpr uint64_t NO_BOUND = UINT64_MAX;
  uint64_t claimed() const noexcept { return tail_index_.load(std::memory_order_seq_cst) >> SHIFT; }

  // What a take found at the head of the queue.
  enum class Head {
    Taken,      // the oldest element, now in `out`
    Empty,      // nothing claimed
    Bounded,    // the oldest element lies at or past the bound
    Unwritten,  // its producer claimed the slot but has not written it yet
  };

  // Takes the oldest element unless its position is at or past bound().
  // bound() is read once the head is known to be claimed, so whatever its
  // producer did before the claim is visible to it. A producer caught
  // between its claim and its write is waited for (a few instructions,
  // with the consumers' mutex free meanwhile) only when wait_for_writer.
  template <class Bound>
  Head try_pop_before(Bound&& bound, bool wait_for_writer, std::optional<T>& out) {
    for (unsigned spins = 0;; ++spins) {
      const Head head = take_locked(bound, out);
      if (head != Head::Unwritten || !wait_for_writer) return head;
      // The producer is writing that very line: every look would pull it
      // back from under the producer's stores, so looks are spaced out.
      patient_backoff(spins);
    }
  }

  // Takes the oldest element, waiting for its writer: "empty" is never
  // reported while an element pushed before this call is still in flight.
  std::optional<T> try_pop() {
    std::optional<T> out;
    try_pop_before([] { return NO_BOUND; }, true, out);
    return out;
  }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

 private:
  static constexpr unsigned SHIFT = 1;
  static constexpr uint64_t LAP = 32;
  static constexpr size_t BLOCK_CAP = LAP - 1;
  static constexpr size_t CACHE_LINE = 64;

  // A slot per cache line (a 56-byte event and its flag fill one exactly),
  // so a producer writing one slot never shares a line with the consumer
  // reading the one before. The link sits apart, after the slots.
  struct alignas(CACHE_LINE) Slot {
    Atomic<bool> written{false};
    alignas(T) unsigned char storage[sizeof(T)];
  };
  struct Block {
    Slot slots[BLOCK_CAP];
    alignas(CACHE_LINE) Atomic<Block*> next{nullptr};
  };

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
  template <class Bound>
  Head take_locked(Bound& bound, std::optional<T>& out) {
    std::lock_guard<typename Sync::Mutex> lock(consumer_mu_);
    // The tail's cache line is the producers'; read it only when the last
    // value seen has been consumed.
    // A cached tail may still point at a block's end sentinel that the head
    // has already jumped past, hence ">=".
    if ((head_index_ >> SHIFT) >= (seen_tail_ >> SHIFT)) {
      seen_tail_ = tail_index_.load(std::memory_order_seq_cst);  // pairs with waiters' Dekker check
      if ((head_index_ >> SHIFT) >= (seen_tail_ >> SHIFT)) return Head::Empty;
    }
    if ((head_index_ >> SHIFT) >= bound()) return Head::Bounded;

    const size_t offset = static_cast<size_t>((head_index_ >> SHIFT) % LAP);
    Slot& slot = head_block_->slots[offset];
    if (!slot.written.load(std::memory_order_acquire)) return Head::Unwritten;
    T* stored = std::launder(reinterpret_cast<T*>(slot.storage));
    out.emplace(std::move(*stored));
    stored->~T();

    if (offset + 1 == BLOCK_CAP) {
      Block* next = head_block_->next.load(std::memory_order_acquire);
      for (unsigned spins = 0; next == nullptr; ++spins) {
        backoff(spins);
        next = head_block_->next.load(std::memory_order_acquire);
      }
      recycle(head_block_);
      head_block_ = next;
      head_index_ += 2u << SHIFT;  // past the sentinel
    } else {
      head_index_ += 1u << SHIFT;
    }
    return Head::Taken;
  }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

  static void backoff(unsigned spins) {
    if (spins > 16) Sync::yield();
  }
  // Waits twice as long on every round without touching shared memory,
  // then yields.
  static void patient_backoff(unsigned spins) {
    if (spins > 10) {
      Sync::yield();
      return;
    }
    for (unsigned i = 0; i < (4u << spins); ++i) std::atomic_signal_fence(std::memory_order_seq_cst);
  }

  // The consumer hands its drained blocks back through a few spare places,
  // so a steady stream allocates nothing, and a burst that outruns the
  // consumer by a few blocks neither: a malloc here and a free on the
  // consumer's thread would meet on the allocator's lock. Whoever exchanges
  // a block out of a place owns it alone. Kept out of line: the push that a
  // block end would bloat is the hot path.
  [[gnu::noinline]] Block* fresh_block() {
    for (Atomic<Block*>& spare : spares_)
      if (spare.load(std::memory_order_relaxed) != nullptr)
        if (Block* b = spare.exchange(nullptr, std::memory_order_acquire)) return b;
    return new Block();
  }
  [[gnu::noinline]] void recycle(Block* b) noexcept {
    for (Slot& slot : b->slots) slot.written.store(false, std::memory_order_relaxed);
    b->next.store(nullptr, std::memory_order_relaxed);
    for (Atomic<Block*>& spare : spares_) {
      Block* empty = nullptr;
      if (spare.load(std::memory_order_relaxed) == nullptr &&
          spare.compare_exchange_strong(empty, b, std::memory_order_release, std::memory_order_relaxed))
        return;
    }
    delete b;
  }

  // Producers. Padding keeps the two sides on separate cache lines without
  // over-aligning the type (which not every allocator path honours).
  Atomic<uint64_t> tail_index_{0};
  Atomic<Block*> tail_block_{nullptr};
  [[maybe_unused]] char pad_[CACHE_LINE];
  // 32 blocks of 31 events: a burst of a thousand events, 64 KiB at most.
  static constexpr size_t SPARES = 32;
  Atomic<Block*> spares_[SPARES] = {};
  [[maybe_unused]] char pad2_[CACHE_LINE];
  // The consumer side, under consumer_mu_.
  typename Sync::Mutex consumer_mu_;
  uint64_t head_index_ = 0;
  uint64_t seen_tail_ = 0;
  Block* head_block_ = nullptr;
  // Whatever follows the queue (a channel's flags, which every send reads)
  // stays off the line that every take writes.
  [[maybe_unused]] char pad3_[CACHE_LINE];
};

}  // namespace kmx::queue
