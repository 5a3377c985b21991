// Bridge functions with no caller inside keymux, kept so that the bridge
// is complete for other users of the wrapper, and the keeper of objects
// nobody holds a reference to.
#include "bridge_objects.h"

#include <mutex>
#include <vector>

namespace velkor::bridge {

void keep_unowned(void* object) {
  static std::mutex mu;
  static auto* kept = new std::vector<void*>;  // never freed: these live as long as the process
  std::lock_guard lock(mu);
  kept->push_back(object);
}

}  // namespace velkor::bridge

extern "C" int32_t velkor_event_loop_run_for_seconds(double seconds) { return RunCurrentEventLoop(seconds); }

extern "C" uint32_t velkor_modifierflags_supported_mask(void) { return 0xFF00; }

extern "C" uint32_t velkor_modifierflags_right_side_mask(void) { return 0xE000; }

extern "C" uint32_t velkor_modifierflags_has_right_side(uint32_t flags) { return (flags & 0xFFFF) >= 0x2000 ? 1 : 0; }
