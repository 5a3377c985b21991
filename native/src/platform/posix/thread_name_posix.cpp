#include <pthread.h>

#include "platform/worker_thread.h"

namespace kmx::platform {

void set_current_thread_name(const std::string& name) noexcept {
  // Linux allows 15 characters plus the NUL; every name we use fits.
  ::pthread_setname_np(::pthread_self(), name.substr(0, 15).c_str());
}

}  // namespace kmx::platform
