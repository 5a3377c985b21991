// Process-wide counters of the Windows backend, never reset; printed when a
// backend thread ends if KMX_DEBUG_STATS is present in the environment.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace kmx::platform::windows {

struct Stats {
  std::atomic<uint64_t> wakes{0};
  std::atomic<uint64_t> commands{0};
  std::atomic<uint64_t> hook_events{0};
  std::atomic<uint64_t> motion_coalesced{0};
};

extern Stats STATS;

inline void count(std::atomic<uint64_t>& counter) noexcept { counter.fetch_add(1, std::memory_order_relaxed); }

// "[keymux-stats] wakes=.. commands=.. hook_events=.. motion_coalesced=.."
std::string stats_line();

// Queues the line for standard error when the variable is set, to any
// value including the empty one.
void print_stats_if_requested() noexcept;

}  // namespace kmx::platform::windows
