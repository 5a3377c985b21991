#include <pthread.h>

#include "platform/worker_thread.h"

namespace kmx::platform {

void set_current_thread_name(const std::string& name) noexcept {
  // Apple's form names only the calling thread.
  ::pthread_setname_np(name.c_str());
}

}  // namespace kmx::platform
