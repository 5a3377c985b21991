// kmx_apply_hotkeys, kmx_apply_leftovers.
#include "capi/capi_handle.h"
#include "error/utf8.h"

using namespace kmx;

extern "C" {

KMX_API KmxStatus kmx_apply_hotkeys(KmxHandle handle, const KmxShortcut* items, size_t count) noexcept {
  if (handle == nullptr || (items == nullptr && count > 0)) return KMX_ERR_INVALID_ARGUMENT;
  runtime::Handle& h = *capi::from_c(handle);
  capi::SharedCall call(h);

  model::ShortcutList shortcuts;
  shortcuts.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    auto accelerator = error::owned_text(items[i].accelerator, "accelerator");
    if (!accelerator) return h.set_error(accelerator.error());
    auto description = error::owned_text(items[i].description, "description");
    if (!description) return h.set_error(description.error());
    shortcuts.push_back({std::move(accelerator).value(), std::move(description).value(), items[i].id});
  }
  auto applied = h.apply_hotkeys(std::move(shortcuts));
  return applied ? KMX_OK : h.set_error(applied.error());
}

KMX_API size_t kmx_apply_leftovers(KmxHandle handle, char* buffer, size_t capacity) noexcept {
  if (handle == nullptr) return 0;
  runtime::Handle& h = *capi::from_c(handle);
  capi::SharedCall call(h);
  return capi::copy_text(h.leftovers_text(), buffer, capacity);
}

}  // extern "C"
