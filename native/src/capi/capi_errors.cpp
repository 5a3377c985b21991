// kmx_last_error, kmx_last_init_error.
#include "capi/capi_handle.h"

using namespace kmx;

extern "C" {

KMX_API size_t kmx_last_error(KmxHandle handle, char* buffer, size_t capacity) noexcept {
  if (handle == nullptr) return 0;
  runtime::Handle& h = *capi::from_c(handle);
  capi::SharedCall call(h);
  return capi::copy_text(h.last_error(), buffer, capacity);
}

KMX_API size_t kmx_last_init_error(char* buffer, size_t capacity) noexcept {
  return capi::copy_text(runtime::last_init_error(), buffer, capacity);
}

}  // extern "C"
