#include <pthread.h>

#include <atomic>

#include "platform/process_generation.h"

namespace kmx::platform {

namespace {

std::atomic<uint64_t> GENERATION{0};

void forked_child() noexcept { GENERATION.fetch_add(1, std::memory_order_relaxed); }

// Registered while the library loads, before any runtime can exist.
__attribute__((constructor)) void watch_forks() { ::pthread_atfork(nullptr, nullptr, forked_child); }

}  // namespace

uint64_t process_generation() noexcept { return GENERATION.load(std::memory_order_relaxed); }

}  // namespace kmx::platform
