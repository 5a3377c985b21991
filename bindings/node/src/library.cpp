#include "library.h"

#include <cstdio>
#include <mutex>

#include "dynlib.h"

namespace keymux_node {

namespace {

std::mutex LOAD_MUTEX;
Api API;
bool LOADED = false;
std::string LOADED_PATH;

template <typename Fn>
bool resolve(void* library, const char* name, Fn* slot, std::string* missing) {
  *slot = reinterpret_cast<Fn>(dynlib_symbol(library, name));
  if (!*slot && missing->empty()) *missing = name;
  return *slot != nullptr;
}

std::string hex8(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", value);
  return text;
}

}  // namespace

LoadResult load_library(const std::string& path, std::string* why) {
  std::lock_guard lock(LOAD_MUTEX);
  if (LOADED) return LoadResult::kLoaded;
  void* library = dynlib_open(path, why);
  if (!library) return LoadResult::kNotLoadable;
  Api api{};
  std::string missing;
  resolve(library, "kmx_abi_version", &api.abi_version, &missing);
  resolve(library, "kmx_create", &api.create, &missing);
  resolve(library, "kmx_destroy", &api.destroy, &missing);
  resolve(library, "kmx_stop", &api.stop, &missing);
  resolve(library, "kmx_backend", &api.backend, &missing);
  resolve(library, "kmx_capabilities", &api.capabilities, &missing);
  resolve(library, "kmx_last_error", &api.last_error, &missing);
  resolve(library, "kmx_last_init_error", &api.last_init_error, &missing);
  resolve(library, "kmx_poll_event", &api.poll_event, &missing);
  resolve(library, "kmx_set_raw_mask", &api.set_raw_mask, &missing);
  resolve(library, "kmx_apply_hotkeys", &api.apply_hotkeys, &missing);
  resolve(library, "kmx_apply_leftovers", &api.apply_leftovers, &missing);
  resolve(library, "kmx_send_chord", &api.send_chord, &missing);
  resolve(library, "kmx_is_key_down", &api.is_key_down, &missing);
  resolve(library, "kmx_is_key_down_many", &api.is_key_down_many, &missing);
  if (!missing.empty()) {
    *why = "it does not export " + missing;
    dynlib_close(library);
    return LoadResult::kMismatch;
  }
  if (const uint32_t version = api.abi_version(); version != KMX_ABI_VERSION) {
    *why = "its interface version is " + hex8(version) + ", this package needs " + hex8(KMX_ABI_VERSION);
    dynlib_close(library);
    return LoadResult::kMismatch;
  }
  API = api;  // the library stays loaded for the life of the process
  LOADED = true;
  LOADED_PATH = path;
  return LoadResult::kLoaded;
}

const Api* api() {
  std::lock_guard lock(LOAD_MUTEX);
  return LOADED ? &API : nullptr;
}

const std::string& loaded_path() {
  std::lock_guard lock(LOAD_MUTEX);
  return LOADED_PATH;
}

}  // namespace keymux_node
