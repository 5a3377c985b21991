// The library's fifteen functions, resolved at run time from the file the
// JavaScript side chose, as any host loads keymux_native.
#pragma once

#include <keymux/keymux.h>

#include <string>

namespace keymux_node {

struct Api {
  uint32_t (*abi_version)();
  KmxStatus (*create)(const KmxCreateOptions*, KmxHandle*);
  void (*destroy)(KmxHandle);
  KmxStatus (*stop)(KmxHandle);
  size_t (*backend)(KmxHandle, char*, size_t);
  uint64_t (*capabilities)(KmxHandle);
  size_t (*last_error)(KmxHandle, char*, size_t);
  size_t (*last_init_error)(char*, size_t);
  KmxStatus (*poll_event)(KmxHandle, KmxEvent*, uint32_t);
  KmxStatus (*set_raw_mask)(KmxHandle, uint32_t);
  KmxStatus (*apply_hotkeys)(KmxHandle, const KmxShortcut*, size_t);
  size_t (*apply_leftovers)(KmxHandle, char*, size_t);
  KmxStatus (*send_chord)(KmxHandle, const uint32_t*, size_t, uint32_t);
  int32_t (*is_key_down)(KmxHandle, uint32_t);
  KmxStatus (*is_key_down_many)(KmxHandle, const uint32_t*, size_t, uint8_t*);
};

enum class LoadResult { kLoaded, kNotLoadable, kMismatch };

// Loads the library at path once per process; later calls with any path
// report kLoaded. On failure *why says what went wrong with that file.
LoadResult load_library(const std::string& path, std::string* why);

// The loaded functions, or null before a successful load.
const Api* api();
const std::string& loaded_path();

// Reads one of the library's text getters whole.
template <typename Getter>
std::string read_text(Getter getter) {
  std::string text(getter(nullptr, 0), '\0');
  if (text.empty()) return text;
  getter(text.data(), text.size());
  text.pop_back();  // the NUL
  return text;
}

}  // namespace keymux_node
