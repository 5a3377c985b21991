#include <windows.h>

#include "dynlib.h"

namespace keymux_node {

void* dynlib_open(const std::string& path, std::string* error) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
  std::wstring wide(length > 0 ? length : 1, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), length);
  HMODULE library =
      LoadLibraryExW(wide.c_str(), nullptr,
                     LOAD_LIBRARY_SEARCH_DEFAULT_DIRS |
                         (path.find_first_of("\\/") != std::string::npos ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR : 0));
  if (!library) *error = "LoadLibrary failed with error " + std::to_string(GetLastError());
  return reinterpret_cast<void*>(library);
}

void* dynlib_symbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void dynlib_close(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

}  // namespace keymux_node
