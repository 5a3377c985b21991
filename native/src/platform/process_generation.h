// Which process this is, as the library sees it: a forked child has
// everything its parent had in memory (runtimes, connections, locks) but
// none of its threads. A runtime made in another generation belongs to the
// parent, and the child must leave it alone.
#pragma once

#include <cstdint>

namespace kmx::platform {

// How many forks lie between the process that loaded the library and this
// one (0 where processes cannot fork).
uint64_t process_generation() noexcept;

}  // namespace kmx::platform
