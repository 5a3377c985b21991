// The checks every shortcut list passes before it reaches a platform.
#pragma once

#include "error/result.h"
#include "model/shortcut.h"

namespace kmx::model {

// In list order, per shortcut: duplicate id, then accelerator empty after
// trimming white space, then duplicate trimmed ASCII-lower-cased
// accelerator. The first failure is returned as InvalidArgument.
Status validate_shortcuts(const ShortcutList& shortcuts);

}  // namespace kmx::model
