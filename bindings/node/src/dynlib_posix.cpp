#include <dlfcn.h>

#include "dynlib.h"

namespace keymux_node {

void* dynlib_open(const std::string& path, std::string* error) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* text = dlerror();
    *error = text ? text : "dlopen failed";
  }
  return library;
}

void* dynlib_symbol(void* library, const char* name) { return dlsym(library, name); }

void dynlib_close(void* library) { dlclose(library); }

}  // namespace keymux_node
