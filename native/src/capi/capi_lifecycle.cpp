// kmx_abi_version, kmx_create, kmx_destroy, kmx_stop, kmx_backend, kmx_capabilities.
#include "capi/capi_handle.h"

using namespace kmx;

extern "C" {

KMX_API uint32_t kmx_abi_version(void) noexcept { return runtime::ABI_VERSION; }

KMX_API KmxStatus kmx_create(const KmxCreateOptions* options, KmxHandle* out_handle) noexcept {
  if (out_handle == nullptr) return KMX_ERR_INVALID_ARGUMENT;
  *out_handle = nullptr;
  const uint32_t abi = options ? options->abi_version : runtime::ABI_VERSION;
  const uint32_t mask = options ? options->raw_mask : 0;
  auto created = runtime::Handle::create(abi, mask);
  if (!created) return runtime::set_init_error(created.error());
  *out_handle = capi::to_c(created.value());
  return KMX_OK;
}

KMX_API void kmx_destroy(KmxHandle handle) noexcept { runtime::Handle::destroy(capi::from_c(handle)); }

KMX_API KmxStatus kmx_stop(KmxHandle handle) noexcept {
  if (handle == nullptr) return KMX_ERR_INVALID_ARGUMENT;
  runtime::Handle& h = *capi::from_c(handle);
  capi::SharedCall call(h);
  return h.stop();
}

KMX_API size_t kmx_backend(KmxHandle handle, char* buffer, size_t capacity) noexcept {
  if (handle == nullptr) return 0;
  runtime::Handle& h = *capi::from_c(handle);
  capi::SharedCall call(h);
  return capi::copy_text(h.backend_name(), buffer, capacity);
}

KMX_API uint64_t kmx_capabilities(KmxHandle handle) noexcept {
  if (handle == nullptr) return 0;
  runtime::Handle& h = *capi::from_c(handle);
  capi::SharedCall call(h);
  return h.capabilities();
}

}  // extern "C"
