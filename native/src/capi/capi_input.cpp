// kmx_send_chord, kmx_is_key_down, kmx_is_key_down_many.
#include <vector>

#include "capi/capi_handle.h"
#include "model/keys.h"

using namespace kmx;

namespace {

constexpr size_t MAX_MODIFIER_COUNT = 8;

}  // namespace

extern "C" {

KMX_API KmxStatus kmx_send_chord(KmxHandle handle, const uint32_t* modifiers, size_t modifier_count,
                                 uint32_t key) noexcept {
  if (handle == nullptr || modifier_count > MAX_MODIFIER_COUNT) return KMX_ERR_INVALID_ARGUMENT;
  runtime::Handle& h = *capi::from_c(handle);
  capi::SharedCall call(h);
  // The key's error comes before the modifiers pointer check.
  if (auto known = model::check_key_usage(key); !known) return h.set_error(known.error());
  if (modifier_count > 0 && modifiers == nullptr) return KMX_ERR_INVALID_ARGUMENT;
  for (size_t i = 0; i < modifier_count; ++i) {
    if (auto known = model::check_modifier_usage(modifiers[i]); !known) return h.set_error(known.error());
  }
  const std::vector<uint32_t> owned(modifiers, modifiers + modifier_count);
  auto sent = h.send_chord(owned, key);
  return sent ? KMX_OK : h.set_error(sent.error());
}

KMX_API KmxStatus kmx_is_key_down_many(KmxHandle handle, const uint32_t* usages, size_t count,
                                       uint8_t* results) noexcept {
  if (handle == nullptr) return KMX_ERR_INVALID_ARGUMENT;
  if (count == 0) return KMX_OK;
  if (usages == nullptr || results == nullptr) return KMX_ERR_INVALID_ARGUMENT;
  runtime::Handle& h = *capi::from_c(handle);
  capi::SharedCall call(h);
  // One read of the caller's array: what is checked is what the backend gets.
  const std::vector<uint32_t> owned(usages, usages + count);
  for (uint32_t usage : owned) {
    if (auto known = model::check_key_usage(usage); !known) return h.set_error(known.error());
  }
  auto down = h.is_key_down_many(owned);
  if (!down) return h.set_error(down.error());
  const size_t n = down->size() < count ? down->size() : count;
  for (size_t i = 0; i < n; ++i) results[i] = (*down)[i] ? 1 : 0;
  return KMX_OK;
}

KMX_API int32_t kmx_is_key_down(KmxHandle handle, uint32_t usage) noexcept {
  uint8_t result = 0;
  const KmxStatus status = kmx_is_key_down_many(handle, &usage, 1, &result);
  return status == KMX_OK ? static_cast<int32_t>(result) : -static_cast<int32_t>(status);
}

}  // extern "C"
