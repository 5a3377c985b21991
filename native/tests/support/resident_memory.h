// How much memory a soak test holds, to show it stays flat. Without a
// sanitizer that is the resident set; a sanitizer's allocator keeps freed
// memory in quarantine, so there it is the bytes the program holds
// allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KMX_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KMX_TEST_SANITIZED 1
#endif
#endif

#ifdef KMX_TEST_SANITIZED
// From the sanitizers' allocator interface (gcc ships the runtime, not the header).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <unistd.h>
#endif

namespace kmx::testing {

inline size_t held_memory_bytes() {
#ifdef KMX_TEST_SANITIZED
  return __sanitizer_get_current_allocated_bytes();
#else
  long pages = 0, resident = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return static_cast<size_t>(resident) * static_cast<size_t>(sysconf(_SC_PAGESIZE));
#endif
}

// Growth a soak may show after its warm-up: a megabyte of allocator and
// page slack, and 16 bytes a cycle, far below what keeping anything of a
// cycle (an event, a registration, a queue block) would add.
inline size_t allowed_growth(uint64_t cycles) { return (size_t{1} << 20) + 16 * static_cast<size_t>(cycles); }

}  // namespace kmx::testing
