#include "util/panic_safe.h"

namespace kmx::util {

void report_callback_panic(const char* name, const char* message) noexcept {
  std::fprintf(stderr, "brindle-utils: panic in %s caught at C ABI boundary: %s\n", name, message);
  std::fflush(stderr);
}

}  // namespace kmx::util
