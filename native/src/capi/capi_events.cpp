// kmx_poll_event, kmx_set_raw_mask.
#include "capi/capi_handle.h"

using namespace kmx;

extern "C" {

KMX_API KmxStatus kmx_poll_event(KmxHandle handle, KmxEvent* out_event, uint32_t timeout_ms) noexcept {
  if (handle == nullptr || out_event == nullptr) return KMX_ERR_INVALID_ARGUMENT;
  runtime::Handle& h = *capi::from_c(handle);
  capi::SharedCall call(h);
  return h.poll_event(out_event, timeout_ms);
}

KMX_API KmxStatus kmx_set_raw_mask(KmxHandle handle, uint32_t mask) noexcept {
  if (handle == nullptr) return KMX_ERR_INVALID_ARGUMENT;
  runtime::Handle& h = *capi::from_c(handle);
  capi::SharedCall call(h);
  auto done = h.set_raw_mask(mask);
  return done ? KMX_OK : h.set_error(done.error());
}

}  // extern "C"
