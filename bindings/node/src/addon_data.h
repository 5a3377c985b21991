// Per-environment state of the addon (main thread and each worker thread).
#pragma once

#include <napi.h>

namespace keymux_node {

struct AddonData {
  Napi::FunctionReference error_factory;  // (status, message) => KeymuxError
};

}  // namespace keymux_node
