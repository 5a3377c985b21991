#include "platform/process_generation.h"

namespace kmx::platform {

// Windows processes do not fork.
uint64_t process_generation() noexcept { return 0; }

}  // namespace kmx::platform
