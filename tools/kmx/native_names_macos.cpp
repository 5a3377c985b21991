// macOS: native codes are virtual key codes (kVK_*), named by the key
// table's macOS column.
#include <limits>

#include "key_names.h"
#include "native_names.h"

namespace kmx_tool {

namespace {

constexpr uint32_t NONE = std::numeric_limits<uint32_t>::max();

struct MacKey {
  uint32_t usage;
  uint32_t mac;
};

constexpr MacKey MAC_KEYS[] = {
#define KMX_KEY(usage, name, win, mac, x11, evdev) {usage, mac},
#define KMX_MODIFIER(usage, name, win, mac, x11, evdev) {usage, mac},
#include "model/keys.inc"
#undef KMX_KEY
#undef KMX_MODIFIER
};

}  // namespace

std::optional<std::string_view> key_name_for_native_code(uint32_t native_code) {
  for (const MacKey& k : MAC_KEYS)
    if (k.mac != NONE && k.mac == native_code) return name_for_usage(k.usage);
  return std::nullopt;
}

}  // namespace kmx_tool
