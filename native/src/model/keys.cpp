#include "model/keys.h"

#include <algorithm>
#include <iterator>

namespace kmx::model {

namespace {

constexpr std::nullopt_t NONE = std::nullopt;

#define KMX_KEY(usage, name, win, mac, x11, evdev) KeyRow{usage, name, win, mac, x11, evdev},
#define KMX_MODIFIER(usage, name, win, mac, x11, evdev)
constexpr KeyRow KEY_ROWS[] = {
#include "model/keys.inc"
};
#undef KMX_KEY
#undef KMX_MODIFIER

#define KMX_KEY(usage, name, win, mac, x11, evdev)
#define KMX_MODIFIER(usage, name, win, mac, x11, evdev) KeyRow{usage, name, win, mac, x11, evdev},
constexpr KeyRow MODIFIER_ROWS[] = {
#include "model/keys.inc"
};
#undef KMX_KEY
#undef KMX_MODIFIER

constexpr uint32_t FIRST_MODIFIER = 0xE0;
constexpr uint32_t LAST_MODIFIER = 0xE7;

// The modifier lookup indexes by usage, so the rows must sit in usage order.
constexpr bool modifiers_in_usage_order() {
  for (size_t i = 0; i < std::size(MODIFIER_ROWS); ++i) {
    if (MODIFIER_ROWS[i].usage != FIRST_MODIFIER + i) return false;
  }
  return std::size(MODIFIER_ROWS) == LAST_MODIFIER - FIRST_MODIFIER + 1;
}
static_assert(modifiers_in_usage_order());
static_assert(std::size(KEY_ROWS) == 107);

}  // namespace

const std::span<const KeyRow> PORTABLE_KEYS{KEY_ROWS};
const std::span<const KeyRow> PORTABLE_MODIFIERS{MODIFIER_ROWS};

const KeyRow* key_by_usage(uint32_t usage) noexcept {
  const auto* row =
      std::find_if(std::begin(KEY_ROWS), std::end(KEY_ROWS), [usage](const KeyRow& r) { return r.usage == usage; });
  return row == std::end(KEY_ROWS) ? nullptr : row;
}

const KeyRow* modifier_by_usage(uint32_t usage) noexcept {
  if (usage < FIRST_MODIFIER || usage > LAST_MODIFIER) return nullptr;
  return &MODIFIER_ROWS[usage - FIRST_MODIFIER];
}

const KeyRow* any_by_usage(uint32_t usage) noexcept {
  const KeyRow* row = modifier_by_usage(usage);
  return row ? row : key_by_usage(usage);
}

bool is_known_usage(uint32_t usage) noexcept { return any_by_usage(usage) != nullptr; }

Status check_key_usage(uint32_t usage) {
  if (is_known_usage(usage)) return {};
  return KmxError::invalid_argument("unknown portable key usage " + error::hex(usage));
}

Status check_modifier_usage(uint32_t usage) {
  if (modifier_by_usage(usage)) return {};
  return KmxError::invalid_argument("unknown portable modifier usage " + error::hex(usage));
}

}  // namespace kmx::model
