// One hot key as the host asked for it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kmx::model {

struct Shortcut {
  std::string accelerator;  // exactly as the host passed it, untrimmed
  std::string description;  // the host's own; no platform sees it
  uint64_t id = 0;
};

using ShortcutList = std::vector<Shortcut>;

}  // namespace kmx::model
