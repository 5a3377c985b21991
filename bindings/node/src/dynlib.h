// Opening a shared library by path or by name; one file per OS.
#pragma once

#include <string>

namespace keymux_node {

void* dynlib_open(const std::string& path, std::string* error);
void* dynlib_symbol(void* library, const char* name);
void dynlib_close(void* library);

}  // namespace keymux_node
